package com.vesk.orvanex.agent;

/** Answers the host's identify requests. */
public interface IdentifyHelper {
    int identify(int code, String s1, String s2, String s3, String s4, String s5, String s6, String s7,
            String s8, String s9);
}
