package com.vesk.orvanex;

/** An access-control list, kept in its encoded text form. */
public class Acl implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private String encodedAcl;

    public Acl(String encoded) { this.encodedAcl = encoded; }

    public String getEncoded() { return encodedAcl; }

    @Override public boolean equals(Object o) {
        return o instanceof Acl && java.util.Objects.equals(((Acl) o).encodedAcl, encodedAcl);
    }
    @Override public int hashCode() { return java.util.Objects.hashCode(encodedAcl); }
    @Override public String toString() { return String.valueOf(encodedAcl); }
}
