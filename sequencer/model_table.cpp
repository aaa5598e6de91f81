#include "sequencer/model_table.h"

namespace mvx {
namespace {

using enum ModelWarning;
using enum PlainRule;

// name, serial range, warning, without special code (and its minimum
// version), special code, codes accepted with cross-type, format after update
constexpr ModelRow kModels[] = {
    {"TV004", true, None, Accepted, "", "", {"SAR", "SDF"}, true},
    {"TV004 RX", true, Rx, Accepted, "", "", {}, false},
    {"TV004 SAR", true, None, NormalPackageNeedsCrossType, "", "SAR", {}, true},
    {"TV004 SDF", true, None, NeedsCrossType, "", "SDF", {}, true},
    {"TV005 PRO", true, None, NeedsMinimumVersion, "022", "", {}, true},
    {"TV005 BASIC", true, None, NeedsMinimumVersion, "022", "", {"KS"}, false},
    {"PX001", false, None, NeedsMinimumVersion, "021", "", {"SDF"}, false},
    {"PX001 SDF", false, None, SpecialOnly, "", "SDF", {}, false},
    {"TV005 KORVEL_SPECIAL", false, None, SpecialOnly, "", "KS", {}, false},
    {"3T", false, Demo, Accepted, "", "", {}, true},
};

constexpr std::string_view kNormalPackage = "201";

}  // namespace

const ModelRow* FindModel(std::string_view name) {
  for (const ModelRow& row : kModels)
    if (row.Name == name) return &row;
  return nullptr;
}

ModelVerdict JudgeModel(const ModelRow& model, const PackageFacts& package,
                        bool cross_type_enabled) {
  const std::string_view code = package.SpecialModelCode;
  if (!code.empty()) {
    // Codes compare exactly; the package's version number does not count here.
    if (code == model.SpecialCode) return ModelVerdict::AcceptedBySpecialCode;
    if (cross_type_enabled)
      for (std::string_view cross : model.CrossTypeCodes)
        if (!cross.empty() && code == cross) return ModelVerdict::AcceptedBySpecialCode;
    return ModelVerdict::SpecialCodeMismatch;
  }
  switch (model.Plain) {
    case Accepted:
      return ModelVerdict::Accepted;
    case NormalPackageNeedsCrossType:
      return package.UpdateTypeCode == kNormalPackage && !cross_type_enabled
                 ? ModelVerdict::ModelMismatch
                 : ModelVerdict::Accepted;
    case NeedsCrossType:
      return cross_type_enabled ? ModelVerdict::Accepted : ModelVerdict::ModelMismatch;
    case NeedsMinimumVersion:
      // Version numbers compare as text, byte by byte.
      return package.UpdateVersionNumber < model.MinimumVersion ? ModelVerdict::VersionMismatch
                                                                : ModelVerdict::Accepted;
    case SpecialOnly:
      return ModelVerdict::ModelMismatch;
  }
  return ModelVerdict::ModelMismatch;
}

}  // namespace mvx
