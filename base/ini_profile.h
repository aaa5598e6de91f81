// The settings file as the private-profile functions read and write it:
// sections and keys match without regard to letter case, values are trimmed
// and lose one pair of surrounding quotes, a missing file reads as empty and is
// created by the first write, and a write keeps every other line as it was.
#pragma once

#include "base/platform.h"

namespace mvx {

class IniProfile : public ISettingsFile {
 public:
  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& def) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;
};

}  // namespace mvx
