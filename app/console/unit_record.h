// The record of one unit's version-up: one line of a CSV file that a
// spreadsheet opens, or one JSON object per line, appended when the unit ends.
#pragma once

#include <chrono>
#include <string>
#include <system_error>

namespace mvx::cli {

struct UnitRecord {
  std::chrono::system_clock::time_point Start, End;
  std::string Cradle;  // the port served; empty when any
  std::string Serial, Pcb, Bat;
  std::string Model;
  std::string VersionBefore, VersionAfter;
  std::string Package, PackageMd5;
  int UpdateType = 0;  // the device's transfer path: 1 or 2; 0 unknown
  bool Formatted = false;
  bool Finished = false;
  // "finished", or what the tool showed when the unit did not finish.
  std::string Result;
  std::string LogFile;
};

// A moment as local ISO 8601 time with the offset, to the millisecond:
// "2026-12-10T14:37:00.123+09:00".
std::string IsoLocalTime(std::chrono::system_clock::time_point moment);

// The first line of a new CSV record file: a UTF-8 byte-order mark (a
// spreadsheet then reads the Japanese texts as they are) and the column names.
std::string CsvHeader();
// One record as a whole line, CR LF ended; a text's own line breaks become
// " / ".
std::string CsvLine(const UnitRecord& record);
std::string JsonLine(const UnitRecord& record);

// Appends each unit's record to one file (shared with other copies).
class RecordFile {
 public:
  RecordFile(std::string path, bool json) : path_(std::move(path)), json_(json) {}
  const std::string& Path() const { return path_; }
  std::error_code Append(const UnitRecord& record) const;

 private:
  std::string path_;
  bool json_;
};

}  // namespace mvx::cli
