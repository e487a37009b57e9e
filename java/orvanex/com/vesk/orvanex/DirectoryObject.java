package com.vesk.orvanex;

/** An object of the directory: its domain and its object id. */
public class DirectoryObject implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private final String domainId;
    private final Object objectId;

    public DirectoryObject(String domainId, Object objectId) {
        this.domainId = domainId;
        this.objectId = objectId;
    }

    public String getDomainId() { return domainId; }
    public Object getObjectId() { return objectId; }
}
