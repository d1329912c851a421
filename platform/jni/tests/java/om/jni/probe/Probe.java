package om.jni.probe;

/** One native whose C++ definitions the signature check compiles. */
final class Probe {
    private Probe() {
    }

    static native int close(long handle);
}
