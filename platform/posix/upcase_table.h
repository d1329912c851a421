// The upper-case mapping names compare by in the Basic Multilingual Plane, as
// runs of code points that move by one offset (generated: make_upcase_table.py).
#pragma once
#include <cstddef>
#include <cstdint>

namespace om::standin {

struct UpcaseRun {
  char16_t first, last;  // the run's lowest and highest code point
  uint8_t step;          // 1: every code point of the run maps; 2: every second one
  int32_t offset;        // added to a code point of the run to give its upper case
};

// Sorted by code point; the runs do not overlap.
extern const UpcaseRun kUpcaseRuns[];
extern const size_t kUpcaseRunCount;

}  // namespace om::standin
