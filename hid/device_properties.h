// The registry properties of a device interface that its record keeps (the
// SetupAPI's SPDRP_* codes), in the order the record keeps them, each with the
// kind of value it holds. Windows reads them from the registry; other systems
// fill in those they have under the same codes.
#pragma once

#include <cstdint>

#include "hid/hid_backend.h"

namespace mvx {

enum class DeviceProperty : std::uint32_t {
  DeviceDesc = 0x00,
  HardwareID = 0x01,
  CompatibleIDs = 0x02,
  Service = 0x04,
  Class = 0x07,
  ClassGUID = 0x08,
  Driver = 0x09,
  ConfigFlags = 0x0A,
  Mfg = 0x0B,
  FriendlyName = 0x0C,
  LocationInformation = 0x0D,
  PhysicalDeviceObjectName = 0x0E,
  Capabilities = 0x0F,
  UINumber = 0x10,
  UpperFilters = 0x11,
  LowerFilters = 0x12,
  BusTypeGUID = 0x13,
  LegacyBusType = 0x14,
  BusNumber = 0x15,
  EnumeratorName = 0x16,
  SecuritySDS = 0x18,
  DevType = 0x19,
  Exclusive = 0x1A,
  Characteristics = 0x1B,
  Address = 0x1C,
  Property1E = 0x1E,
};

struct DevicePropertySpec {
  DeviceProperty Code;
  HidProperty::Kind Kind;
};

inline constexpr DevicePropertySpec kDeviceProperties[] = {
    {DeviceProperty::Capabilities, HidProperty::Kind::Number},
    {DeviceProperty::Class, HidProperty::Kind::String},
    {DeviceProperty::ClassGUID, HidProperty::Kind::String},
    {DeviceProperty::CompatibleIDs, HidProperty::Kind::StringList},
    {DeviceProperty::ConfigFlags, HidProperty::Kind::Number},
    {DeviceProperty::DeviceDesc, HidProperty::Kind::String},
    {DeviceProperty::Driver, HidProperty::Kind::String},
    {DeviceProperty::FriendlyName, HidProperty::Kind::String},
    {DeviceProperty::HardwareID, HidProperty::Kind::StringList},
    {DeviceProperty::LowerFilters, HidProperty::Kind::StringList},
    {DeviceProperty::Mfg, HidProperty::Kind::String},
    {DeviceProperty::UpperFilters, HidProperty::Kind::StringList},
    {DeviceProperty::Address, HidProperty::Kind::String},
    {DeviceProperty::BusNumber, HidProperty::Kind::Number},
    {DeviceProperty::BusTypeGUID, HidProperty::Kind::String},
    {DeviceProperty::Characteristics, HidProperty::Kind::String},
    {DeviceProperty::DevType, HidProperty::Kind::Number},
    {DeviceProperty::EnumeratorName, HidProperty::Kind::String},
    {DeviceProperty::Exclusive, HidProperty::Kind::Number},
    {DeviceProperty::LegacyBusType, HidProperty::Kind::Number},
    {DeviceProperty::LocationInformation, HidProperty::Kind::String},
    {DeviceProperty::PhysicalDeviceObjectName, HidProperty::Kind::String},
    {DeviceProperty::SecuritySDS, HidProperty::Kind::String},
    {DeviceProperty::Service, HidProperty::Kind::String},
    {DeviceProperty::UINumber, HidProperty::Kind::Number},
    {DeviceProperty::Property1E, HidProperty::Kind::String},
};

constexpr std::uint32_t Code(DeviceProperty property) {
  return static_cast<std::uint32_t>(property);
}

}  // namespace mvx
