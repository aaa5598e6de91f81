// The Merovox models that the tool knows, one row each, and the rule that
// decides from a row whether a package may go onto a device of that model.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace mvx {

// What the operator is asked before a model goes on.
enum class ModelWarning {
  None,
  Demo,  // a demo unit, not for sale
  Rx,    // "TV004 RX"
};

// How a package without a special model code is judged.
enum class PlainRule {
  Accepted,
  // Model mismatch for a normal package (type code "201") unless cross-type
  // version-up is enabled; mockup and other packages go on.
  NormalPackageNeedsCrossType,
  // Model mismatch unless cross-type version-up is enabled.
  NeedsCrossType,
  // Version mismatch when the package's version number is below MinimumVersion.
  NeedsMinimumVersion,
  // Always a model mismatch: the model takes only special packages.
  SpecialOnly,
};

struct ModelRow {
  std::string_view Name;  // exactly as the device answers "KIND"
  // Serial characters 6 to 10 must match the package's version number range.
  bool SerialRange;
  ModelWarning Warning;
  PlainRule Plain;
  std::string_view MinimumVersion;  // for PlainRule::NeedsMinimumVersion
  // The special model code that accepts this model; empty: none.
  std::string_view SpecialCode;
  // Special model codes that accept this model once cross-type version-up is
  // enabled.
  std::array<std::string_view, 2> CrossTypeCodes;
  // The file system may be formatted after the update.
  bool FormatAfterUpdate;
};

// The row of a model name (exact, case-sensitive), or nullptr when unknown.
const ModelRow* FindModel(std::string_view name);

// What the package's fields say about a known model.
struct PackageFacts {
  std::string_view SpecialModelCode;     // empty, "SAR", "SDF", "KS", ...
  std::string_view UpdateTypeCode;       // "201" normal, "211" mockup, ...
  std::string_view UpdateVersionNumber;  // "022", ...
};

enum class ModelVerdict {
  Accepted,               // no special code, the model takes the package
  AcceptedBySpecialCode,  // the package's special code accepts the model
  SpecialCodeMismatch,    // the package's special code does not
  ModelMismatch,          // no special code, the model refuses the package
  VersionMismatch,        // no special code, the package's version is too old
};

ModelVerdict JudgeModel(const ModelRow& model, const PackageFacts& package,
                        bool cross_type_enabled);

}  // namespace mvx
