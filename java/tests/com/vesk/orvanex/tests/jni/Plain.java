package com.vesk.orvanex.tests.jni;

/** A Serializable class without objectID: carried in Java serialised form. */
public class Plain implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public String text;
    public int[] numbers;

    public Plain(String text, int[] numbers) { this.text = text; this.numbers = numbers; }

    @Override public boolean equals(Object o) {
        return o instanceof Plain && java.util.Objects.equals(((Plain) o).text, text)
                && java.util.Arrays.equals(((Plain) o).numbers, numbers);
    }
    @Override public int hashCode() { return java.util.Objects.hashCode(text); }
}
