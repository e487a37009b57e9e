package com.vesk.orvanex.kel;

/** A kel error: its kind, its directory error code, the message and the traceback. */
public class Error implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private final int type;
    private final int code;
    private final String message;
    private final Location[] locations;

    public Error(int type, int code, String message, Location[] locations) {
        this.type = type;
        this.code = code;
        this.message = message;
        this.locations = locations;
    }

    public int getType() { return type; }
    public int getCode() { return code; }
    public String getMessage() { return message; }
    public Location[] getLocations() { return locations; }

    @Override public String toString() {
        StringBuilder b = new StringBuilder("Error(").append(type).append(", ").append(code).append(", ").append(message);
        if (locations != null) for (Location l : locations) b.append(", at ").append(l);
        return b.append(')').toString();
    }
}
