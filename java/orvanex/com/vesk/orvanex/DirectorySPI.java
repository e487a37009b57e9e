package com.vesk.orvanex;

/** A directory provider written in Java. */
public interface DirectorySPI {
}
