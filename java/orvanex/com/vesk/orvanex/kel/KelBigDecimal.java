package com.vesk.orvanex.kel;

import java.math.BigDecimal;

/** A kel number as a BigDecimal. */
public class KelBigDecimal extends BigDecimal {
    private static final long serialVersionUID = 1L;

    public KelBigDecimal(String text) { super(text); }
}
