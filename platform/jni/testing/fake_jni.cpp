#include "fake_jni.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "platform/jni/jni_glue.h"
#include "platform/unicode.h"

namespace omtest {

struct FakeJni::Object {
  enum Kind {
    ByteArray, IntArray, LongArray, BooleanArray, CharArray, OtherArray, ObjectArray, String, Class, Instance,
    DirectBuffer
  } kind;
  std::size_t elementSize = 1;
  std::vector<std::uint8_t> data;  // array elements, raw
  std::u16string text;             // String
  std::string utf8;                // String as UTF-8; Class name
  bool unreadable = false;         // String whose characters cannot be had
  std::deque<std::string> methods;   // Class: names handed out as method IDs
  std::deque<std::string> fields;    // Class: names handed out as field IDs
  Object* klass = nullptr;           // Instance
  std::map<std::string, jlong> longs;      // Instance fields
  std::map<std::string, jobject> objects;
  IntMethod method;                // Instance
  void* address = nullptr;         // DirectBuffer
  jlong capacity = 0;

  std::size_t length() const { return data.size() / elementSize; }
};

namespace {

using Object = FakeJni::Object;

std::string toUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    om::appendUtf8(out, c);
  }
  return out;
}

std::u16string fromUtf8(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    std::uint32_t c;
    int extra;
    if (b < 0x80) { c = b; extra = 0; }
    else if (b >= 0xF0) { c = b & 0x07; extra = 3; }
    else if (b >= 0xE0) { c = b & 0x0F; extra = 2; }
    else { c = b & 0x1F; extra = 1; }
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i) c = (c << 6) | (text[i] & 0x3F);
    om::appendUtf16(out, c);
  }
  return out;
}

}  // namespace

// The JNI functions, as static members of a friend so they reach the owner.
struct FakeJniAccess {
  static FakeJni& owner(JNIEnv* env) { return *reinterpret_cast<FakeJni::Env*>(env)->owner; }
  static Object* object(jobject ref) { return reinterpret_cast<Object*>(ref); }

  static void raise(JNIEnv* env, const std::string& text) {
    FakeJni& jni = owner(env);
    if (!jni.exceptionPending_) {
      jni.exceptionPending_ = true;
      jni.exceptionText_ = text;
    }
  }

  static jsize JNICALL GetArrayLength(JNIEnv*, jarray array) {
    return static_cast<jsize>(object(array)->length());
  }

  // Critical access hands out a copy, so a native that releases without
  // copy-back really loses its writes, as it may on a JVM.
  static void* JNICALL GetPrimitiveArrayCritical(JNIEnv* env, jarray array, jboolean* isCopy) {
    Object* o = object(array);
    // Exactly the array's size, so a sanitizer sees any write past its end.
    auto* copy = static_cast<std::uint8_t*>(std::malloc(o->data.empty() ? 1 : o->data.size()));
    if (!o->data.empty()) std::memcpy(copy, o->data.data(), o->data.size());
    if (isCopy) *isCopy = JNI_TRUE;
    ++owner(env).openPins_;
    return copy;
  }
  static void JNICALL ReleasePrimitiveArrayCritical(JNIEnv* env, jarray array, void* carray, jint mode) {
    Object* o = object(array);
    if (mode != JNI_ABORT && !o->data.empty()) std::memcpy(o->data.data(), carray, o->data.size());
    if (mode != JNI_COMMIT) {
      std::free(carray);
      --owner(env).openPins_;
    }
  }

  static jsize JNICALL GetStringLength(JNIEnv*, jstring text) {
    return static_cast<jsize>(object(text)->text.size());
  }
  static void JNICALL GetStringRegion(JNIEnv* env, jstring text, jsize start, jsize length, jchar* out) {
    const std::u16string& s = object(text)->text;
    if (start < 0 || length < 0 || static_cast<std::size_t>(start) + length > s.size()) {
      raise(env, "java/lang/StringIndexOutOfBoundsException");
      return;
    }
    std::memcpy(out, s.data() + start, sizeof(jchar) * length);
  }
  // A copy of exactly the string's length and no terminating zero (a JVM gives
  // none), so a sanitizer sees a native that reads past the length.
  static const jchar* JNICALL GetStringChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    Object* o = object(text);
    if (o->unreadable) {
      raise(env, "java/lang/OutOfMemoryError");
      return nullptr;
    }
    auto* copy = static_cast<jchar*>(std::malloc(o->text.empty() ? 1 : sizeof(jchar) * o->text.size()));
    if (!o->text.empty()) std::memcpy(copy, o->text.data(), sizeof(jchar) * o->text.size());
    if (isCopy) *isCopy = JNI_TRUE;
    ++owner(env).openPins_;
    return copy;
  }
  static void JNICALL ReleaseStringChars(JNIEnv* env, jstring, const jchar* chars) {
    std::free(const_cast<jchar*>(chars));
    --owner(env).openPins_;
  }
  // Modified UTF-8, as a JVM gives it: a zero as two bytes, each half of a
  // surrogate pair as three.
  static std::string modifiedUtf8(jstring text) {
    const std::u16string& s = object(text)->text;
    return om::jni::toModifiedUtf8(reinterpret_cast<const WCHAR*>(s.data()), s.size());
  }
  static jsize JNICALL GetStringUTFLength(JNIEnv*, jstring text) {
    return static_cast<jsize>(modifiedUtf8(text).size());
  }
  static const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring text, jboolean* isCopy) {
    const std::string s = modifiedUtf8(text);
    char* copy = static_cast<char*>(std::malloc(s.size() + 1));
    std::memcpy(copy, s.c_str(), s.size() + 1);
    if (isCopy) *isCopy = JNI_TRUE;
    ++owner(env).openPins_;
    return copy;
  }
  static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring, const char* chars) {
    std::free(const_cast<char*>(chars));
    --owner(env).openPins_;
  }

  static bool region(JNIEnv* env, jarray array, jsize start, jsize length) {
    Object* o = object(array);
    if (start < 0 || length < 0 || static_cast<std::size_t>(start) + length > o->length()) {
      raise(env, "java/lang/ArrayIndexOutOfBoundsException");
      return false;
    }
    return true;
  }
  template <typename A, typename T>
  static void JNICALL getRegion(JNIEnv* env, A array, jsize start, jsize length, T* out) {
    if (region(env, array, start, length))
      std::memcpy(out, object(array)->data.data() + start * sizeof(T), length * sizeof(T));
  }
  template <typename A, typename T>
  static void JNICALL setRegion(JNIEnv* env, A array, jsize start, jsize length, const T* in) {
    if (region(env, array, start, length))
      std::memcpy(object(array)->data.data() + start * sizeof(T), in, length * sizeof(T));
  }

  static jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
    if (ref) ++owner(env).globalRefs_;
    return ref;
  }
  static void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
    if (ref) --owner(env).globalRefs_;
  }
  static void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}

  static jmethodID JNICALL GetMethodID(JNIEnv* env, jclass type, const char* name, const char*) {
    Object* o = object(type);
    for (const std::string& method : o->methods)
      if (method == name) return reinterpret_cast<jmethodID>(const_cast<std::string*>(&method));
    if (std::string(name) == "<init>") {  // every class has its constructors
      o->methods.push_back(name);
      return reinterpret_cast<jmethodID>(&o->methods.back());
    }
    raise(env, "java/lang/NoSuchMethodError");
    return nullptr;
  }

  // A made object of the class; a String first argument is kept as its message.
  static jobject construct(JNIEnv* env, jclass type, jobject first) {
    FakeJni& jni = owner(env);
    jobject made = jni.instance(type);
    for (const auto& o : jni.objects_)
      if (reinterpret_cast<jobject>(o.get()) == first && o->kind == Object::String) {
        object(made)->objects["message"] = first;
        break;
      }
    return made;
  }
  static jobject JNICALL NewObjectV(JNIEnv* env, jclass type, jmethodID, va_list args) {
    return construct(env, type, va_arg(args, jobject));
  }
  static jobject JNICALL NewObjectA(JNIEnv* env, jclass type, jmethodID, const jvalue* args) {
    return construct(env, type, args ? args[0].l : nullptr);
  }
  static jint JNICALL Throw(JNIEnv* env, jthrowable error) {
    Object* o = object(error);
    auto message = o->objects.find("message");
    raise(env, (o->klass ? o->klass->utf8 : std::string("java/lang/Throwable")) +
                   (message != o->objects.end() ? ": " + object(message->second)->utf8 : std::string()));
    return 0;
  }

  static jint callInt(JNIEnv* env, jobject target, jmethodID method, jobject argument) {
    Object* o = object(target);
    const std::string& name = *reinterpret_cast<const std::string*>(method);
    std::vector<std::uint8_t> buffer;
    std::vector<std::uint8_t>* bufferArgument = nullptr;
    Object* a = object(argument);
    if (a && a->kind == Object::DirectBuffer) {
      buffer.assign(static_cast<std::uint8_t*>(a->address), static_cast<std::uint8_t*>(a->address) + a->capacity);
      bufferArgument = &buffer;
    }
    try {
      return o->method ? o->method(name, bufferArgument) : 0;
    } catch (const std::exception& e) {
      raise(env, e.what());
      return 0;
    }
  }
  static jint JNICALL CallIntMethodV(JNIEnv* env, jobject target, jmethodID method, va_list args) {
    jobject argument = va_arg(args, jobject);
    return callInt(env, target, method, argument);
  }
  static jint JNICALL CallIntMethodA(JNIEnv* env, jobject target, jmethodID method, const jvalue* args) {
    return callInt(env, target, method, args ? args[0].l : nullptr);
  }
  // The "..." form of a JNI function through its va_list form.
  template <class R, class T, R(JNICALL* V)(JNIEnv*, T, jmethodID, va_list)>
  static R JNICALL variadic(JNIEnv* env, T target, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    R result = V(env, target, method, args);
    va_end(args);
    return result;
  }

  static jobject JNICALL NewDirectByteBuffer(JNIEnv* env, void* address, jlong capacity) {
    auto o = std::make_unique<Object>();
    o->kind = Object::DirectBuffer;
    o->address = address;
    o->capacity = capacity;
    return reinterpret_cast<jobject>(owner(env).add(std::move(o)));
  }

  // Classes by name, made on first lookup; an exception names its class and message.
  static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    FakeJni& jni = owner(env);
    for (const auto& o : jni.objects_)
      if (o->kind == Object::Class && o->utf8 == name) return reinterpret_cast<jclass>(o.get());
    return jni.type(name);
  }
  static jint JNICALL ThrowNew(JNIEnv* env, jclass type, const char* message) {
    raise(env, object(type)->utf8 + ": " + (message ? message : "(null)"));
    return 0;
  }
  static jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) {
    return owner(env).string(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(length)));
  }
  static jlong* JNICALL GetLongArrayElements(JNIEnv* env, jlongArray array, jboolean* isCopy) {
    return static_cast<jlong*>(GetPrimitiveArrayCritical(env, array, isCopy));
  }
  static void JNICALL ReleaseLongArrayElements(JNIEnv* env, jlongArray array, jlong* elements, jint mode) {
    ReleasePrimitiveArrayCritical(env, array, elements, mode);
  }

  static jclass JNICALL GetObjectClass(JNIEnv* env, jobject target) {
    Object* o = object(target);
    if (o->kind == Object::Instance && o->klass) return reinterpret_cast<jclass>(o->klass);
    return FindClass(env, o->kind == Object::String ? "java/lang/String" : "java/lang/Object");
  }
  static jfieldID JNICALL GetFieldID(JNIEnv*, jclass type, const char* name, const char*) {
    Object* o = object(type);
    for (const std::string& field : o->fields)
      if (field == name) return reinterpret_cast<jfieldID>(const_cast<std::string*>(&field));
    o->fields.emplace_back(name);
    return reinterpret_cast<jfieldID>(&o->fields.back());
  }
  static const std::string& fieldName(jfieldID field) { return *reinterpret_cast<const std::string*>(field); }
  static jlong JNICALL GetLongField(JNIEnv*, jobject target, jfieldID field) {
    auto& longs = object(target)->longs;
    auto found = longs.find(fieldName(field));
    return found == longs.end() ? 0 : found->second;
  }
  static void JNICALL SetLongField(JNIEnv*, jobject target, jfieldID field, jlong value) {
    object(target)->longs[fieldName(field)] = value;
  }
  static jobject JNICALL GetObjectField(JNIEnv*, jobject target, jfieldID field) {
    auto& objects = object(target)->objects;
    auto found = objects.find(fieldName(field));
    return found == objects.end() ? nullptr : found->second;
  }
  static void JNICALL SetObjectField(JNIEnv*, jobject target, jfieldID field, jobject value) {
    object(target)->objects[fieldName(field)] = value;
  }
  static jobject JNICALL AllocObject(JNIEnv* env, jclass type) { return owner(env).instance(type); }

  static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass, jobject initial) {
    if (length < 0) {
      raise(env, "java/lang/NegativeArraySizeException");
      return nullptr;
    }
    jarray made = owner(env).newArray(sizeof(jobject), static_cast<std::size_t>(length));
    Object* o = object(made);
    o->kind = Object::ObjectArray;
    for (jsize i = 0; i < length; ++i) std::memcpy(o->data.data() + i * sizeof(jobject), &initial, sizeof initial);
    return reinterpret_cast<jobjectArray>(made);
  }
  static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    if (region(env, array, index, 1))
      std::memcpy(object(array)->data.data() + index * sizeof(jobject), &value, sizeof value);
  }
  static jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    jobject value = nullptr;
    if (region(env, array, index, 1))
      std::memcpy(&value, object(array)->data.data() + index * sizeof(jobject), sizeof value);
    return value;
  }
  static jstring JNICALL NewStringUTF(JNIEnv* env, const char* chars) { return owner(env).string(std::string(chars)); }

  // Void and boolean methods run the object's handler without arguments.
  static jint callPlain(JNIEnv* env, jobject target, jmethodID method) {
    return callInt(env, target, method, nullptr);
  }
  static void JNICALL CallVoidMethodV(JNIEnv* env, jobject target, jmethodID method, va_list) {
    callPlain(env, target, method);
  }
  static void JNICALL CallVoidMethodA(JNIEnv* env, jobject target, jmethodID method, const jvalue*) {
    callPlain(env, target, method);
  }
  static void JNICALL CallVoidMethod(JNIEnv* env, jobject target, jmethodID method, ...) {
    callPlain(env, target, method);
  }

  static jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
    *vm = owner(env).vm();
    return JNI_OK;
  }
  static FakeJni& vmOwner(JavaVM* vm) { return *reinterpret_cast<FakeJni::Vm*>(vm)->owner; }
  static jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void*) {
    FakeJni& jni = vmOwner(vm);
    ++jni.attached_;
    *penv = jni.env();
    return JNI_OK;
  }
  static jint JNICALL DetachCurrentThread(JavaVM* vm) {
    --vmOwner(vm).attached_;
    return JNI_OK;
  }
  static jint JNICALL GetEnv(JavaVM* vm, void** penv, jint) {
    *penv = vmOwner(vm).env();
    return JNI_OK;
  }

  static jboolean JNICALL ExceptionCheck(JNIEnv* env) { return owner(env).exceptionPending_ ? JNI_TRUE : JNI_FALSE; }
  static void JNICALL ExceptionClear(JNIEnv* env) { owner(env).clearException(); }
  static void JNICALL ExceptionDescribe(JNIEnv* env) {
    FakeJni& jni = owner(env);
    if (!jni.exceptionPending_) return;
    std::fprintf(stderr, "fake JNI: exception described: %s\n", jni.exceptionText_.c_str());
    ++jni.described_;
    jni.clearException();
  }
};

namespace {

// Every other table slot: stop with the slot's index (see jni.h for the order).
template <std::size_t Index>
void JNICALL unexpected() {
  std::fprintf(stderr, "fake JNI: unexpected call of JNI function table slot %zu\n", Index);
  std::fflush(stderr);
  std::abort();
}

template <std::size_t... Index>
void fillTraps(void** slots, std::index_sequence<Index...>) {
  ((slots[Index] = reinterpret_cast<void*>(&unexpected<Index>)), ...);
}

}  // namespace

FakeJni::FakeJni() {
  constexpr std::size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);
  static_assert(kSlots < 300, "JNI function table larger than expected");
  fillTraps(reinterpret_cast<void**>(&table_), std::make_index_sequence<kSlots>{});
  table_.reserved0 = table_.reserved1 = table_.reserved2 = table_.reserved3 = nullptr;
  table_.GetArrayLength = &FakeJniAccess::GetArrayLength;
  table_.GetPrimitiveArrayCritical = &FakeJniAccess::GetPrimitiveArrayCritical;
  table_.ReleasePrimitiveArrayCritical = &FakeJniAccess::ReleasePrimitiveArrayCritical;
  table_.GetStringLength = &FakeJniAccess::GetStringLength;
  table_.GetStringRegion = &FakeJniAccess::GetStringRegion;
  table_.GetStringChars = &FakeJniAccess::GetStringChars;
  table_.ReleaseStringChars = &FakeJniAccess::ReleaseStringChars;
  table_.GetStringUTFLength = &FakeJniAccess::GetStringUTFLength;
  table_.GetStringUTFChars = &FakeJniAccess::GetStringUTFChars;
  table_.ReleaseStringUTFChars = &FakeJniAccess::ReleaseStringUTFChars;
  table_.GetByteArrayRegion = &FakeJniAccess::getRegion<jbyteArray, jbyte>;
  table_.SetByteArrayRegion = &FakeJniAccess::setRegion<jbyteArray, jbyte>;
  table_.GetBooleanArrayRegion = &FakeJniAccess::getRegion<jbooleanArray, jboolean>;
  table_.SetBooleanArrayRegion = &FakeJniAccess::setRegion<jbooleanArray, jboolean>;
  table_.GetIntArrayRegion = &FakeJniAccess::getRegion<jintArray, jint>;
  table_.SetIntArrayRegion = &FakeJniAccess::setRegion<jintArray, jint>;
  table_.GetLongArrayRegion = &FakeJniAccess::getRegion<jlongArray, jlong>;
  table_.GetCharArrayRegion = &FakeJniAccess::getRegion<jcharArray, jchar>;
  table_.SetCharArrayRegion = &FakeJniAccess::setRegion<jcharArray, jchar>;
  table_.SetLongArrayRegion = &FakeJniAccess::setRegion<jlongArray, jlong>;
  table_.NewGlobalRef = &FakeJniAccess::NewGlobalRef;
  table_.DeleteGlobalRef = &FakeJniAccess::DeleteGlobalRef;
  table_.DeleteLocalRef = &FakeJniAccess::DeleteLocalRef;
  table_.GetMethodID = &FakeJniAccess::GetMethodID;
  table_.CallIntMethod = &FakeJniAccess::variadic<jint, jobject, &FakeJniAccess::CallIntMethodV>;
  table_.CallIntMethodV = &FakeJniAccess::CallIntMethodV;
  table_.CallIntMethodA = &FakeJniAccess::CallIntMethodA;
  table_.NewDirectByteBuffer = &FakeJniAccess::NewDirectByteBuffer;
  table_.FindClass = &FakeJniAccess::FindClass;
  table_.ThrowNew = &FakeJniAccess::ThrowNew;
  table_.Throw = &FakeJniAccess::Throw;
  table_.NewObject = &FakeJniAccess::variadic<jobject, jclass, &FakeJniAccess::NewObjectV>;
  table_.NewObjectV = &FakeJniAccess::NewObjectV;
  table_.NewObjectA = &FakeJniAccess::NewObjectA;
  table_.NewString = &FakeJniAccess::NewString;
  table_.GetLongArrayElements = &FakeJniAccess::GetLongArrayElements;
  table_.ReleaseLongArrayElements = &FakeJniAccess::ReleaseLongArrayElements;
  table_.ExceptionCheck = &FakeJniAccess::ExceptionCheck;
  table_.ExceptionClear = &FakeJniAccess::ExceptionClear;
  table_.ExceptionDescribe = &FakeJniAccess::ExceptionDescribe;
  table_.GetObjectClass = &FakeJniAccess::GetObjectClass;
  table_.GetFieldID = &FakeJniAccess::GetFieldID;
  table_.GetLongField = &FakeJniAccess::GetLongField;
  table_.SetLongField = &FakeJniAccess::SetLongField;
  table_.GetObjectField = &FakeJniAccess::GetObjectField;
  table_.SetObjectField = &FakeJniAccess::SetObjectField;
  table_.AllocObject = &FakeJniAccess::AllocObject;
  table_.NewObjectArray = &FakeJniAccess::NewObjectArray;
  table_.SetObjectArrayElement = &FakeJniAccess::SetObjectArrayElement;
  table_.GetObjectArrayElement = &FakeJniAccess::GetObjectArrayElement;
  table_.NewStringUTF = &FakeJniAccess::NewStringUTF;
  table_.CallVoidMethod = &FakeJniAccess::CallVoidMethod;
  table_.CallVoidMethodV = &FakeJniAccess::CallVoidMethodV;
  table_.CallVoidMethodA = &FakeJniAccess::CallVoidMethodA;
  table_.GetJavaVM = &FakeJniAccess::GetJavaVM;
  invoke_.AttachCurrentThread = &FakeJniAccess::AttachCurrentThread;
  invoke_.DetachCurrentThread = &FakeJniAccess::DetachCurrentThread;
  invoke_.GetEnv = &FakeJniAccess::GetEnv;
  vm_.vm.functions = &invoke_;
  vm_.owner = this;
  env_.env.functions = &table_;
  env_.owner = this;
}

FakeJni::~FakeJni() = default;

FakeJni::Object* FakeJni::add(std::unique_ptr<Object> object) {
  objects_.push_back(std::move(object));
  return objects_.back().get();
}

namespace {
std::unique_ptr<Object> makeArray(Object::Kind kind, std::size_t elementSize, std::size_t length) {
  auto o = std::make_unique<Object>();
  o->kind = kind;
  o->elementSize = elementSize;
  o->data.assign(length * elementSize, 0);
  return o;
}
}  // namespace

jbyteArray FakeJni::bytes(std::size_t length) {
  return reinterpret_cast<jbyteArray>(add(makeArray(Object::ByteArray, 1, length)));
}
jbyteArray FakeJni::bytes(const std::vector<std::uint8_t>& content) {
  auto o = makeArray(Object::ByteArray, 1, 0);
  o->data = content;
  return reinterpret_cast<jbyteArray>(add(std::move(o)));
}
jintArray FakeJni::ints(std::size_t length) {
  return reinterpret_cast<jintArray>(add(makeArray(Object::IntArray, sizeof(jint), length)));
}
jlongArray FakeJni::longs(std::size_t length, jlong fill) {
  auto o = makeArray(Object::LongArray, sizeof(jlong), length);
  for (std::size_t i = 0; i < length; ++i) std::memcpy(o->data.data() + i * sizeof(jlong), &fill, sizeof fill);
  return reinterpret_cast<jlongArray>(add(std::move(o)));
}
jbooleanArray FakeJni::booleans(std::size_t length) {
  return reinterpret_cast<jbooleanArray>(add(makeArray(Object::BooleanArray, sizeof(jboolean), length)));
}
jcharArray FakeJni::chars(std::size_t length) {
  return reinterpret_cast<jcharArray>(add(makeArray(Object::CharArray, sizeof(jchar), length)));
}
jarray FakeJni::newArray(std::size_t elementSize, std::size_t length) {
  return reinterpret_cast<jarray>(add(makeArray(Object::OtherArray, elementSize, length)));
}
std::uint8_t* FakeJni::elements(jarray made) { return reinterpret_cast<Object*>(made)->data.data(); }

jstring FakeJni::string(const std::u16string& text) {
  auto o = std::make_unique<Object>();
  o->kind = Object::String;
  o->text = text;
  o->utf8 = toUtf8(text);
  return reinterpret_cast<jstring>(add(std::move(o)));
}
jstring FakeJni::string(const std::string& utf8) { return string(fromUtf8(utf8)); }
jstring FakeJni::unreadableString(const std::u16string& text) {
  jstring made = string(text);
  reinterpret_cast<Object*>(made)->unreadable = true;
  return made;
}
jclass FakeJni::type(const std::string& name, std::vector<std::string> methods) {
  auto o = std::make_unique<Object>();
  o->kind = Object::Class;
  o->utf8 = name;
  o->methods.assign(methods.begin(), methods.end());
  return reinterpret_cast<jclass>(add(std::move(o)));
}
jobject FakeJni::object(IntMethod method) {
  auto o = std::make_unique<Object>();
  o->kind = Object::Instance;
  o->method = std::move(method);
  return reinterpret_cast<jobject>(add(std::move(o)));
}

jobject FakeJni::instance(jclass type, IntMethod method) {
  auto o = std::make_unique<Object>();
  o->kind = Object::Instance;
  o->klass = reinterpret_cast<Object*>(type);
  o->method = std::move(method);
  return reinterpret_cast<jobject>(add(std::move(o)));
}
jlong FakeJni::longField(jobject object, const std::string& name) const {
  const auto& longs = reinterpret_cast<Object*>(object)->longs;
  auto found = longs.find(name);
  return found == longs.end() ? 0 : found->second;
}
jobject FakeJni::objectField(jobject object, const std::string& name) const {
  const auto& objects = reinterpret_cast<Object*>(object)->objects;
  auto found = objects.find(name);
  return found == objects.end() ? nullptr : found->second;
}
std::string FakeJni::textOf(jstring text) const { return reinterpret_cast<Object*>(text)->utf8; }
std::vector<jobject> FakeJni::objectsOf(jobjectArray array) const {
  const Object* o = reinterpret_cast<Object*>(array);
  std::vector<jobject> out(o->length());
  if (!out.empty()) std::memcpy(out.data(), o->data.data(), o->data.size());
  return out;
}

std::vector<std::uint8_t> FakeJni::bytesOf(jbyteArray array) const {
  return reinterpret_cast<Object*>(array)->data;
}
namespace {
template <typename T>
std::vector<T> copyElements(const Object* o) {
  std::vector<T> out(o->length());
  if (!out.empty()) std::memcpy(out.data(), o->data.data(), o->data.size());
  return out;
}
}  // namespace
std::vector<jint> FakeJni::intsOf(jintArray array) const {
  return copyElements<jint>(reinterpret_cast<Object*>(array));
}
std::vector<jlong> FakeJni::longsOf(jlongArray array) const {
  return copyElements<jlong>(reinterpret_cast<Object*>(array));
}
std::vector<jboolean> FakeJni::booleansOf(jbooleanArray array) const {
  return copyElements<jboolean>(reinterpret_cast<Object*>(array));
}

}  // namespace omtest
