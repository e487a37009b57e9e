package com.vesk.orvanex.kel;

/** A place in kel source: the source name, the function, line and column. */
public class Location implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private final String source;
    private final String function;
    private final int line;
    private final int column;

    public Location(String source, String function, int line, int column) {
        this.source = source;
        this.function = function;
        this.line = line;
        this.column = column;
    }

    public String getSource() { return source; }
    public String getFunction() { return function; }
    public int getLine() { return line; }
    public int getColumn() { return column; }

    @Override public String toString() { return source + ":" + line + ":" + column + (function != null ? " (" + function + ")" : ""); }
}
