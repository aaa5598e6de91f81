#include "app/console/unit_record.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>

#include "base/calendar.h"
#include "base/file_system.h"
#include "base/text.h"

namespace mvx::cli {
namespace {

// The columns, in the order of the header and of every line.
constexpr const char* kColumns[] = {"start",         "end",     "cradle",      "serial",
                                    "pcb",           "bat",     "model",       "version_before",
                                    "version_after", "package", "package_md5", "update_type",
                                    "format",        "result",  "duration_s",  "log"};

std::string CsvField(const std::string& text) {
  std::string line = OneLine(text);
  if (line.find_first_of(",\"") == std::string::npos && line.find_first_of(" \t") != 0) return line;
  std::string out = "\"";
  for (char c : line) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// The duration in tenths of a second.
long long Tenths(const UnitRecord& r) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(r.End - r.Start).count() / 100;
}

std::string Seconds(const UnitRecord& r) {
  const long long tenths = Tenths(r);
  return std::to_string(tenths / 10) + "." +
         std::to_string(tenths % 10 < 0 ? -(tenths % 10) : tenths % 10);
}

// The fields of a record as texts, in column order.
std::vector<std::string> Fields(const UnitRecord& r) {
  return {IsoLocalTime(r.Start),
          IsoLocalTime(r.End),
          r.Cradle,
          r.Serial,
          r.Pcb,
          r.Bat,
          r.Model,
          r.VersionBefore,
          r.VersionAfter,
          r.Package,
          r.PackageMd5,
          r.UpdateType != 0 ? std::to_string(r.UpdateType) : std::string(),
          r.Formatted ? "yes" : "no",
          r.Result,
          Seconds(r),
          r.LogFile};
}

}  // namespace

std::string IsoLocalTime(std::chrono::system_clock::time_point moment) {
  using namespace std::chrono;
  const auto ms_since = duration_cast<milliseconds>(moment.time_since_epoch()).count();
  auto seconds = static_cast<std::time_t>(ms_since / 1000);
  long long millis = ms_since % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  std::tm local{};
  if (!LocalCalendarTime(seconds, local)) return {};
  // The offset is what the local clock reads ahead of UTC at that moment.
  const long long local_seconds =
      DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1LL, local.tm_mday) * 86400 +
      local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
  const long long offset_minutes = (local_seconds - static_cast<long long>(seconds)) / 60;
  const long long shown = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(millis), offset_minutes < 0 ? '-' : '+',
                static_cast<int>(shown / 60 % 100), static_cast<int>(shown % 60));
  return text;
}

std::string CsvHeader() {
  std::string line = "\xEF\xBB\xBF";
  for (const char* column : kColumns) {
    if (line.size() > 3) line += ',';
    line += column;
  }
  return line + "\r\n";
}

std::string CsvLine(const UnitRecord& record) {
  std::string line;
  bool first = true;
  for (const std::string& field : Fields(record)) {
    if (!first) line += ',';
    first = false;
    line += CsvField(field);
  }
  return line + "\r\n";
}

std::string JsonLine(const UnitRecord& record) {
  nlohmann::ordered_json object;
  const std::vector<std::string> fields = Fields(record);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string column = kColumns[i];
    if (column == "update_type")
      object[column] = record.UpdateType;
    else if (column == "format")
      object[column] = record.Formatted;
    else if (column == "duration_s")
      object[column] = static_cast<double>(Tenths(record)) / 10.0;
    else
      object[column] = OneLine(fields[i]);
  }
  object["finished"] = record.Finished;
  // Bytes that are not UTF-8 are shown replaced, never refused.
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::error_code RecordFile::Append(const UnitRecord& record) const {
  return AppendRecord(path_, json_ ? std::string() : CsvHeader(),
                      json_ ? JsonLine(record) : CsvLine(record));
}

}  // namespace mvx::cli
