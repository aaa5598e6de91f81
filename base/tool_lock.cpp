#include "base/tool_lock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace mvx {
namespace {

using Lock = std::unique_ptr<InstanceLock>;
using Got = InstanceLock::Outcome;

constexpr const char* kWholePc = "pc";
constexpr auto kRetryStep = std::chrono::milliseconds(10);

bool NameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

// FNV-1a, 64 bits: locations that differ get different names.
std::uint64_t Hash(const std::string& text) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3u;
  }
  return hash;
}

std::string SlotName(int slot) {
  return "bound-" + std::to_string(slot);
}

Lock Take(const std::string& name, Got& got, std::error_code* error) {
  return InstanceLock::Acquire(name, got, error);
}

}  // namespace

std::string ToolLock::CradleLockName(const std::string& cradle) {
  const std::string plain = "cradle-";
  bool clean = plain.size() + cradle.size() <= kMaxCradleLockName;
  std::string name = cradle;
  for (char& c : name) {
    if (NameByte(c)) continue;
    c = '_';
    clean = false;
  }
  if (clean) return plain + name;
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Hash(cradle)));
  const std::string hashed = "cradleh-";
  // "cradleh-", as much of the location as fits, '-', 16 hex digits.
  name.resize(std::min(name.size(), kMaxCradleLockName - hashed.size() - 17));
  return hashed + name + '-' + hash;
}

std::unique_ptr<ToolLock> ToolLock::Acquire(const std::string& cradle, Outcome& outcome,
                                            std::error_code* error) {
  return AcquireIn("", cradle, outcome, error);
}

std::unique_ptr<ToolLock> ToolLock::AcquireIn(const std::string& family, const std::string& cradle,
                                              Outcome& outcome, std::error_code* error,
                                              std::chrono::milliseconds wait) {
  outcome = Outcome::Unavailable;
  const bool bound = !cradle.empty();
  Got got;
  Lock pc = Take(family + kWholePc, got, error);
  // Another bound copy holds it only while it starts; the window holds it
  // for good, or lets it go at once when a bound copy runs.
  const auto end = std::chrono::steady_clock::now() + wait;
  while (bound && got == Got::Busy && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(kRetryStep);
    pc = Take(family + kWholePc, got, error);
  }
  if (got != Got::Held) {
    outcome = got == Got::Busy ? Outcome::Busy : Outcome::Unavailable;
    return nullptr;
  }
  std::unique_ptr<ToolLock> lock(new ToolLock);

  if (!bound) {
    // With "pc" held no bound copy gets further; one that runs holds a slot.
    for (int slot = 0; slot < kBoundSlots; ++slot) {
      Take(family + SlotName(slot), got, error);
      if (got == Got::Held) continue;
      outcome = got == Got::Busy ? Outcome::Busy : Outcome::Unavailable;
      return nullptr;
    }
    lock->locks_.push_back(std::move(pc));
    outcome = Outcome::Held;
    if (error) error->clear();
    return lock;
  }

  Lock own = Take(family + CradleLockName(cradle), got, error);
  if (got != Got::Held) {
    outcome = got == Got::Busy ? Outcome::CradleBusy : Outcome::Unavailable;
    return nullptr;
  }
  for (int slot = 0; slot < kBoundSlots; ++slot) {
    Lock mine = Take(family + SlotName(slot), got, error);
    if (got == Got::Busy) continue;
    if (got != Got::Held) return nullptr;  // Unavailable; "own" goes before "pc"
    lock->locks_.push_back(std::move(own));
    lock->locks_.push_back(std::move(mine));
    outcome = Outcome::Held;
    if (error) error->clear();
    return lock;  // "pc" goes here, after the slot is held
  }
  if (error) *error = std::make_error_code(std::errc::resource_unavailable_try_again);
  return nullptr;
}

ToolLock::~ToolLock() = default;

}  // namespace mvx
