package com.ombrel.vss.win32;

/** IVssWMDependency: a component's dependency on another writer's component. */
public final class VssExamineWriterMetadataDependency {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssExamineWriterMetadataDependency() {
    }

    public static native int GetWriterId(long dependency, byte[] writerId);
    public static native int GetLogicalPath(long dependency, long[] logicalPath);
    public static native int GetComponentName(long dependency, long[] componentName);
}
