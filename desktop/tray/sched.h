// Schedule record of the status form and the localised day names.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "framework/object.h"

namespace om {

class TSched : public TObject {
public:
  TSched(const std::string& propertiesPath, const std::string& profilePropertiesPath)
      : FPropertiesPath(propertiesPath), FProfilePropertiesPath(profilePropertiesPath) {}

  int32_t Index() const { return FIndex; }
  const std::string& PropertiesPath() const { return FPropertiesPath; }
  const std::string& ProfilePropertiesPath() const { return FProfilePropertiesPath; }

private:
  int32_t FIndex = -1;
  std::string FPropertiesPath;
  std::string FProfilePropertiesPath;
};

// Monday first. Filled from "RUNNER_Monday" .. "RUNNER_Sunday" at start and
// after a change of language; read by the status composer.
std::array<std::string, 7>& DayNames();
// Fills DayNames from the message resources.
void LoadDayNames();

}  // namespace om
