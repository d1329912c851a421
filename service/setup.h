// Configuration from service.properties, class path and runtime discovery.
#pragma once
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/java_invoker.h"
#include "service/paths.h"

namespace ombackup {

// A setup failure; carries only its message text.
class SetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A new invoker configured from service.properties beside the program, or null.
std::unique_ptr<JavaInvoker> setupInvoker();
// The runtime folder under <baseFolder>\omjre whose name sorts last; throws SetupError.
std::string findJre(const std::string& baseFolder);
// The "memory" value as a decimal integer (leading blanks and a sign allowed,
// reading stops at the first other character, no digits read as 0); a value
// beyond the int range reads as its nearest end.
int readMegabytes(const std::string& text);
// Sorted names of the sub-folders of `parent` matching `pattern`; throws SetupError.
std::vector<std::string> listSubdirectories(const std::string& parent, const std::string& pattern);

}  // namespace ombackup
