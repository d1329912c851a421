package com.ombrel.agentframework.os.win32;

/** A registry value: name, type code and the field its type uses. */
public final class RegValue {
    public String name;
    public int type;
    public int dwordVal;
    public String[] stringArray;
    public String stringValue;
    public byte[] byteArray;
}
