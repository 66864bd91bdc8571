#pragma once

#include "core/daynumber.h"
#include "platform/result.h"

#include <string>
#include <string_view>

namespace tarnwick::core {

class EntryStore;

// "tradmark.dat" in the logging directory: a version line, then one entry per
// line with its fields separated by TAB, CR LF line ends.
extern const char* const k_dataFileName;         // "tradmark.dat"
extern const char* const k_dataFileUnsupported;  // the refusal of a version-1 file
extern const char* const k_dataFileIncompatible; // the refusal of a version of 9 or more
extern const char* const k_dataFileUnreadable;   // the file is there but cannot be read, or is no regular file
extern const char* const k_dataFileTooLarge;     // the memory ran out while loading
constexpr int k_dataFileVersion = 8;

std::string dataFilePath(std::string_view logDir);

// Appends the entries of the data file in `logDir` to the store, in file order,
// and sets the store's LoadOk unless the file was refused. Returns the message to
// show in an OK box; empty when there is none. A missing file (or no logging
// directory) loads nothing and is no error. Records without any text (empty
// lines, lines of TABs) are not kept.
std::string loadDataFile(EntryStore& store, const std::string& logDir);

// The same for the file's bytes; `today` is the Today of every loaded entry.
std::string loadDataText(EntryStore& store, std::string_view bytes, DayNumber today);

// Replaces the data file with the whole store, atomically, when LoadOk is set;
// nothing is written otherwise. A failure keeps the old file and is not reported:
// the caller tells why.
platform::Result saveDataFile(const EntryStore& store, const std::string& logDir);

// The bytes that saveDataFile writes. TAB, CR and LF inside a field, which the
// format cannot carry, are written as blanks.
std::string dataFileText(const EntryStore& store);

} // namespace tarnwick::core
