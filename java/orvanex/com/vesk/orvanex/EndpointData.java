package com.vesk.orvanex;

/** Endpoint data of an agent. */
public class EndpointData implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    public EndpointData() {}
}
