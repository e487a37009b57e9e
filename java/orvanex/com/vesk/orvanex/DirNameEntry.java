package com.vesk.orvanex;

import java.util.ArrayList;
import java.util.List;

/** One component of a directory name: a class name and naming attributes, each plain or an expression. */
public class DirNameEntry implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private String classname;
    private boolean classnameExpression;
    private final List<String> names = new ArrayList<>();
    private final List<Object> values = new ArrayList<>();
    private final List<Boolean> expressions = new ArrayList<>();

    public DirNameEntry() {}

    public void setClassname(String c) { classname = c; classnameExpression = false; }
    public void setClassnameExpression(String c) { classname = c; classnameExpression = true; }
    public void setAttribute(String name, Attribute value) { names.add(name); values.add(value); expressions.add(false); }
    public void setAttributeExpression(String name, String expr) { names.add(name); values.add(expr); expressions.add(true); }

    public String getClassname() { return classname; }
    public boolean isClassnameExpression() { return classnameExpression; }
    public int getAttributeCount() { return names.size(); }
    public String getAttributeName(int i) { return names.get(i); }
    public boolean isAttributeExpression(int i) { return expressions.get(i); }
    /** The Attribute, or the expression text. */
    public Object getAttributeValue(int i) { return values.get(i); }

    @Override public String toString() {
        StringBuilder b = new StringBuilder(String.valueOf(classname));
        for (int i = 0; i < names.size(); i++) {
            b.append(i == 0 ? '[' : ',').append(names.get(i)).append('=').append(values.get(i));
        }
        if (!names.isEmpty()) b.append(']');
        return b.toString();
    }
}
