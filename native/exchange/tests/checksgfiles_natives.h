// The natives of com.halvane.exchange.check.CheckSGFiles as the tests call them,
// without a JVM (through the in-process JNI environment).
#pragma once
#include <jni.h>

extern "C" {
jlong JNICALL Java_com_halvane_exchange_check_CheckSGFiles_New(JNIEnv*, jclass);
void JNICALL Java_com_halvane_exchange_check_CheckSGFiles_Delete(JNIEnv*, jclass, jlong);
jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_CMaxDbPerSG(JNIEnv*, jclass);
jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrInit(JNIEnv*, jclass, jlong, jstring, jstring, jstring,
                                                                  jint);
jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbHeaders(JNIEnv*, jclass, jlong, jintArray,
                                                                            jintArray, jintArray, jint);
jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckDbPages(JNIEnv*, jclass, jlong, jlong, jint, jint,
                                                                          jbooleanArray, jbooleanArray, jlongArray,
                                                                          jlongArray, jlongArray, jlongArray,
                                                                          jlongArray, jint);
jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrCheckLogs(JNIEnv*, jclass, jlong, jbooleanArray, jint);
jint JNICALL Java_com_halvane_exchange_check_CheckSGFiles_ErrTerm(JNIEnv*, jclass, jlong, jint);
jlong JNICALL Java_com_halvane_exchange_check_CheckSGFiles_PgnoFromFileOffset(JNIEnv*, jclass, jlong, jlong);
}
