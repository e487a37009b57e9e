package com.vesk.orvanex;

import java.util.ArrayList;
import java.util.List;

/** A directory name: a list of entries, with its two leading-slash flags. */
public class DirName implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private final List<DirNameEntry> entries = new ArrayList<>();
    private boolean leadingSlash;
    private boolean domainLeadingSlash;

    public DirName() {}

    public void append(DirNameEntry e) { entries.add(e); }
    public void setLeadingSlash(boolean b) { leadingSlash = b; }
    public void setDomainLeadingSlash(boolean b) { domainLeadingSlash = b; }
    public boolean hasLeadingSlash() { return leadingSlash; }
    public boolean hasDomainLeadingSlash() { return domainLeadingSlash; }
    public int size() { return entries.size(); }
    public DirNameEntry get(int i) { return entries.get(i); }

    @Override public String toString() {
        StringBuilder b = new StringBuilder();
        if (domainLeadingSlash) b.append("//");
        else if (leadingSlash) b.append('/');
        for (int i = 0; i < entries.size(); i++) {
            if (i > 0) b.append('/');
            b.append(entries.get(i));
        }
        return b.toString();
    }
}
