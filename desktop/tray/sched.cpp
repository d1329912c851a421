#include "tray/sched.h"

#include "tray/resources.h"

namespace om {

std::array<std::string, 7>& DayNames() {
  static std::array<std::string, 7> names;
  return names;
}

void LoadDayNames() {
  static const char* const kKeys[7] = {"RUNNER_Monday", "RUNNER_Tuesday", "RUNNER_Wednesday", "RUNNER_Thursday",
                                       "RUNNER_Friday", "RUNNER_Saturday", "RUNNER_Sunday"};
  for (int i = 0; i < 7; ++i) DayNames()[static_cast<size_t>(i)] = GetResourceString(kKeys[i]);
}

}  // namespace om
