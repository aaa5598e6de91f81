#include "app/console/device_list.h"

#include "base/codepage.h"
#include "base/text.h"
#include "hid/accepted_devices.h"

namespace mvx::cli {

std::vector<ListedDevice> ListDevices(IHidBackend& hid) {
  std::vector<ListedDevice> out;
  if (!hid.Available()) return out;
  for (const HidInterfaceInfo& info : hid.Enumerate()) {
    // A query-only handle reads the attributes and strings without taking
    // the device from whoever uses it.
    const std::unique_ptr<IHidHandle> handle = hid.Open(info.Path, HidOpenMode::QueryOnly);
    HidAttributes attributes;
    if (!handle || !handle->GetAttributes(attributes)) continue;
    bool accepted = false;
    for (const AcceptedDevice& pair : kAcceptedDevices)
      accepted = accepted ||
                 (pair.VendorID == attributes.VendorID && pair.ProductID == attributes.ProductID);
    if (!accepted) continue;
    ListedDevice device;
    device.Path = info.Path;
    device.VendorID = attributes.VendorID;
    device.ProductID = attributes.ProductID;
    std::u16string product;
    if (handle->GetProductString(product, 126)) device.Product = Utf16ToUtf8(product);
    device.Location = info.Location;
    device.SerialNumber = info.SerialNumber;
    out.push_back(std::move(device));
  }
  return out;
}

std::string DeviceLine(const ListedDevice& d) {
  auto shown = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
  return d.Path + "  " + Format("%04X:%04X", d.VendorID, d.ProductID) + "  " + shown(d.Product) +
         "  location " + shown(d.Location) + "  serial " + shown(d.SerialNumber);
}

}  // namespace mvx::cli
