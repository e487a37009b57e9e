package com.vesk.orvanex;

/** Access to the managed directory. */
public interface Directory {
}
