package com.vesk.orvanex;

/** The native search helper handed to a Java provider (not owned). */
public class SearchHelper {
    protected long nativePtr;

    public SearchHelper() {}
}
