package com.vesk.orvanex.kel;

import com.vesk.orvanex.Any;

/** What running kel gave: success, the value, the error, standard output and trace text. */
public class Result {
    private final boolean ok;
    private final Any value;
    private final Error error;
    private final String output;
    private final String trace;

    public Result(boolean ok, Any value, Error error, String output, String trace) {
        this.ok = ok;
        this.value = value;
        this.error = error;
        this.output = output;
        this.trace = trace;
    }

    public boolean isSuccess() { return ok; }
    public Any getValue() { return value; }
    public Error getError() { return error; }
    public String getOutput() { return output; }
    public String getTrace() { return trace; }

    /** Closes the value when it is a native handle. */
    public void close() {
        if (value instanceof CAny) ((CAny) value).close();
    }

    @Override public String toString() {
        return "Result(" + ok + ", " + value + ", " + error + ")";
    }
}
