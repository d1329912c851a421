// A small in-process JNI environment for driving JNI natives without a Java VM,
// where no JVM exists (Windows binaries under Wine) or for fuzzing native
// argument checks. It serves the array, string, reference, method-call,
// direct-buffer, class-lookup, field, object-array, object-construction, Java VM
// and exception functions our natives use; any other JNI function aborts the
// process with its table index, so a native that grows a new JNI need fails
// loudly instead of calling through a null pointer.
//
// Java objects are owned by the FakeJni that made them and live until it dies.
// Region accesses outside an array leave a pending exception, as a JVM does.
#pragma once
#include <jni.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace omtest {

class FakeJni {
 public:
  FakeJni();
  ~FakeJni();
  FakeJni(const FakeJni&) = delete;
  FakeJni& operator=(const FakeJni&) = delete;

  JNIEnv* env() { return &env_.env; }

  jbyteArray bytes(std::size_t length);
  jbyteArray bytes(const std::vector<std::uint8_t>& content);
  jintArray ints(std::size_t length);
  jlongArray longs(std::size_t length, jlong fill = 0);
  jbooleanArray booleans(std::size_t length);
  jcharArray chars(std::size_t length);
  // An array of any primitive element type, each element set to `fill`.
  template <typename T>
  jarray array(std::size_t length, T fill = T()) {
    jarray made = newArray(sizeof(T), length);
    for (std::size_t i = 0; i < length; ++i) std::memcpy(elements(made) + i * sizeof(T), &fill, sizeof(T));
    return made;
  }
  jstring string(const std::u16string& text);
  jstring string(const std::string& utf8);  // ASCII or UTF-8 text
  // A string whose length can be had but whose characters cannot: GetStringChars
  // returns null with an OutOfMemoryError pending, as a JVM out of memory does.
  jstring unreadableString(const std::u16string& text);
  // A class whose instance methods named in `methods` can be looked up.
  jclass type(const std::string& name, std::vector<std::string> methods = {});

  // An object whose int-returning methods run `method`; the handler gets the
  // method name and the direct buffer's bytes when the argument is a buffer.
  using IntMethod = std::function<jint(const std::string& name, std::vector<std::uint8_t>* buffer)>;
  jobject object(IntMethod method);

  // An instance of `type` (AllocObject makes the same); its int- and void-returning
  // methods run `method`. Fields are made on first use, 0 or null.
  jobject instance(jclass type, IntMethod method = {});
  jlong longField(jobject object, const std::string& name) const;
  jobject objectField(jobject object, const std::string& name) const;
  // A string's UTF-8 text; the elements of an object array.
  std::string textOf(jstring text) const;
  std::vector<jobject> objectsOf(jobjectArray array) const;
  // The VM of GetJavaVM: threads that attach get this same environment. It is not
  // thread-safe: a test lets a native's own thread call in only while the test's
  // thread waits for it.
  JavaVM* vm() { return &vm_.vm; }
  int attachedThreads() const { return attached_; }

  // Array contents as the natives left them.
  std::vector<std::uint8_t> bytesOf(jbyteArray array) const;
  std::vector<jint> intsOf(jintArray array) const;
  std::vector<jlong> longsOf(jlongArray array) const;
  std::vector<jboolean> booleansOf(jbooleanArray array) const;
  template <typename T>
  std::vector<T> elementsOf(jarray array) {
    std::vector<T> out(static_cast<std::size_t>(env()->GetArrayLength(array)));
    if (!out.empty()) std::memcpy(out.data(), elements(array), out.size() * sizeof(T));
    return out;
  }

  // A pending exception (an out-of-range region access, a throwing method, or
  // ThrowNew: "class/Name: message").
  bool exceptionPending() const { return exceptionPending_; }
  std::string exceptionText() const { return exceptionText_; }
  void clearException() { exceptionPending_ = false; exceptionText_.clear(); }
  // How many exceptions ExceptionDescribe reported (and cleared, as a JVM does).
  int describedExceptions() const { return described_; }

  // Balance of pinned arrays and obtained strings: 0 after every native call.
  int openPins() const { return openPins_; }
  int globalRefs() const { return globalRefs_; }

  struct Object;  // one Java object, defined in the implementation

 private:
  friend struct FakeJniAccess;
  Object* add(std::unique_ptr<Object> object);
  jarray newArray(std::size_t elementSize, std::size_t length);
  std::uint8_t* elements(jarray array);

  struct Env {
    JNIEnv env;  // first, so a JNIEnv* leads back to its FakeJni
    FakeJni* owner;
  };
  struct Vm {
    JavaVM vm;  // first, so a JavaVM* leads back to its FakeJni
    FakeJni* owner;
  };
  JNINativeInterface_ table_{};
  JNIInvokeInterface_ invoke_{};
  Env env_{};
  Vm vm_{};
  int attached_ = 0;
  std::vector<std::unique_ptr<Object>> objects_;
  bool exceptionPending_ = false;
  std::string exceptionText_;
  int described_ = 0;
  int openPins_ = 0;
  int globalRefs_ = 0;
};

}  // namespace omtest
