// The console control handler list (the stand-in raises no console events itself).
#include <mutex>
#include <vector>

#include "../win32.h"
#include "internal.h"

using namespace om::standin;

namespace {

std::mutex& consoleLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::vector<PHANDLER_ROUTINE>& consoleHandlers() {
  static auto* handlers = new std::vector<PHANDLER_ROUTINE>;
  return *handlers;
}

}  // namespace

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  std::lock_guard<std::mutex> lock(consoleLock());
  auto& handlers = consoleHandlers();
  if (!handler) return TRUE;  // the Control-C ignore flag: nothing to keep here
  if (add) {
    handlers.push_back(handler);
    return TRUE;
  }
  for (auto it = handlers.end(); it != handlers.begin();) {
    if (*--it == handler) {
      handlers.erase(it);
      return TRUE;
    }
  }
  return fail(ERROR_INVALID_PARAMETER);
}
