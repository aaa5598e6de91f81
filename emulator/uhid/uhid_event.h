// The events of the kernel's uhid protocol, as /dev/uhid reads and writes
// them: a 32-bit type, then the request of that type, packed. Declared here
// rather than taken from <linux/uhid.h> so that a program without the
// kernel's headers (the Windows runner, whose events go through the relay to
// a Linux machine's /dev/uhid) speaks the same bytes; on Linux the layout is
// checked against the kernel's header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mvx::emu::uhid {

constexpr std::size_t kDataMax = 4096;
constexpr std::size_t kDescriptorMax = 4096;

// Event types.
constexpr std::uint32_t kDestroy = 1;
constexpr std::uint32_t kStart = 2;
constexpr std::uint32_t kStop = 3;
constexpr std::uint32_t kOpen = 4;
constexpr std::uint32_t kClose = 5;
constexpr std::uint32_t kOutput = 6;
constexpr std::uint32_t kGetReport = 9;
constexpr std::uint32_t kGetReportReply = 10;
constexpr std::uint32_t kCreate2 = 11;
constexpr std::uint32_t kInput2 = 12;
constexpr std::uint32_t kSetReport = 13;
constexpr std::uint32_t kSetReportReply = 14;

constexpr std::uint8_t kOutputReport = 1;  // an output event's rtype

#pragma pack(push, 1)
struct Create2 {
  std::uint8_t Name[128];
  std::uint8_t Phys[64];
  std::uint8_t Uniq[64];
  std::uint16_t DescriptorSize;
  std::uint16_t Bus;
  std::uint32_t Vendor;
  std::uint32_t Product;
  std::uint32_t Version;
  std::uint32_t Country;
  std::uint8_t Descriptor[kDescriptorMax];
};
struct Input2 {
  std::uint16_t Size;
  std::uint8_t Data[kDataMax];
};
struct Output {
  std::uint8_t Data[kDataMax];
  std::uint16_t Size;
  std::uint8_t ReportType;
};
struct GetReport {
  std::uint32_t Id;
  std::uint8_t ReportNumber;
  std::uint8_t ReportType;
};
struct GetReportReply {
  std::uint32_t Id;
  std::uint16_t Error;
  std::uint16_t Size;
  std::uint8_t Data[kDataMax];
};
struct SetReport {
  std::uint32_t Id;
  std::uint8_t ReportNumber;
  std::uint8_t ReportType;
  std::uint16_t Size;
  std::uint8_t Data[kDataMax];
};
struct SetReportReply {
  std::uint32_t Id;
  std::uint16_t Error;
};
struct Event {
  std::uint32_t Type;
  union {
    Create2 Create;
    Input2 Input;
    Output Out;
    GetReport Get;
    GetReportReply GetReply;
    SetReport Set;
    SetReportReply SetReply;
    // The kernel's union holds a 64-bit field, which rounds it up to 4376
    // bytes: a whole event is 4380.
    std::uint8_t Whole[4376];
  } U;
};
#pragma pack(pop)
static_assert(sizeof(Event) == 4380);

// The bytes of an event up to the end of its type field.
constexpr std::size_t kTypeSize = sizeof(std::uint32_t);
// The bytes of an input event that carries size data bytes: the kernel reads
// no further.
constexpr std::size_t InputEventSize(std::size_t size) {
  return offsetof(Event, U) + offsetof(Input2, Data) + size;
}

}  // namespace mvx::emu::uhid
