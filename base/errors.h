#pragma once

#include <stdexcept>
#include <string>

namespace mvx {

// An error that ends an operator's action; the top-level handler shows its
// text in an error box.
class EAppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace mvx
