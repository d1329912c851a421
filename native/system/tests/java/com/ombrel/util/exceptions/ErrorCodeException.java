package com.ombrel.util.exceptions;

/** A failure with the Win32 code behind it. */
public class ErrorCodeException extends Exception {
    private static final long serialVersionUID = 1L;
    private final int errorCode;

    public ErrorCodeException(String message, int errorCode) {
        super(message);
        this.errorCode = errorCode;
    }

    public int getErrorCode() {
        return errorCode;
    }
}
