// Small string helpers.
#pragma once

#include <string>

namespace om {

// Removes leading and trailing characters at or below the space.
std::string Trim(const std::string& s);

// ASCII case-insensitive equality.
bool SameText(const std::string& a, const std::string& b);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace om
