// The stand-in's own file calls write change-journal records through these.
#pragma once
#include <string>

#include "include/win32_types.h"

#pragma GCC visibility push(default)
namespace om::standin {
// Appends a record for an existing host file to its volume's journal.
BOOL journalNote(const std::string& hostPath, DWORD reason);
// The same when the volume has an active journal; keeps the last error.
void journalNoteIfActive(const std::string& hostPath, DWORD reason);
}  // namespace om::standin
#pragma GCC visibility pop
