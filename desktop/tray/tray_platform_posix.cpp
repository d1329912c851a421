// POSIX side of the tray platform layer, behind the native tests: Latin-1
// stands for the ANSI code page, US English for the user's language.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "tray/tray_platform.h"

namespace om {

std::string PlatformProgramFileName() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

uint16_t PlatformUserDefaultLangID() { return 0x0409; }

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Utf8ToAnsi(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > utf8.size()) {
      out += '?';
      ++i;
      continue;
    }
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(utf8[i + k]);
      if ((d & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are invalid, as the
    // system's decoder has them: "\xC0\xBD" must not read as "=".
    static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kLeast[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      out += '?';
      ++i;
      continue;
    }
    out += cp < 0x100 ? static_cast<char>(cp) : '?';
    i += len;
  }
  return out;
}

std::string AnsiToUtf8(const std::string& ansi) {
  std::string out;
  for (char ch : ansi) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace om
