#include "tools/scenario/cradle.h"

#include <algorithm>

#include "emulator/uhid/uhid_event.h"
#include "emulator/uhid/uhid_merovox.h"
#include "tools/scenario/scenario.h"

#ifdef __linux__
#include "emulator/gadget/hidg_merovox.h"
#endif

namespace mvx::scenario {

namespace {

// Data bytes of one report (the report-ID byte not counted) each kind
// carries: a uhid event's data, and a high-speed interrupt endpoint's packet.
std::size_t MaxReportData(KernelDevice kind) {
  return kind == KernelDevice::Uhid ? emu::uhid::kDataMax : 1024;
}

const char* KindName(KernelDevice kind) {
  return kind == KernelDevice::Uhid ? "uhid" : "the USB gadget";
}

// A cradle that hands the operator's moves to a kernel device's adapter,
// which tells its own bus changes through on_bus_change.
template <class Adapter>
class AdapterCradle : public Cradle {
 public:
  void SetIn() override { adapter_.SetIn(); }
  void Remove() override { adapter_.Remove(); }
  bool OnBus() const override { return adapter_.OnBus(); }

 protected:
  AdapterCradle(emu::MerovoxDevice& model, BusChange on_bus_change) : adapter_(model) {
    adapter_.OnBusChange = std::move(on_bus_change);
  }
  std::string Counted(std::uint64_t outputs, std::uint64_t inputs) const {
    return std::to_string(outputs) + " output reports, " + std::to_string(inputs) +
           " input reports";
  }

  Adapter adapter_;
};

class UhidCradle : public AdapterCradle<emu::UhidMerovox> {
 public:
  UhidCradle(emu::MerovoxDevice& model, const std::string& relay, BusChange on_bus_change)
      : AdapterCradle(model, std::move(on_bus_change)) {
    std::string error;
    std::unique_ptr<emu::UhidChannel> channel = relay.empty()
                                                    ? emu::OpenUhidNode("/dev/uhid", &error)
                                                    : emu::ConnectUhidRelay(relay, &error);
    if (!channel) throw ScenarioSkipped(error);
    adapter_.Attach(std::move(channel));
  }
  std::string Traffic() const override {
    const emu::UhidMerovox::Traffic t = adapter_.Counts();
    return Counted(t.Outputs, t.Inputs) + ", created " + std::to_string(t.Creates) + " times";
  }
};

#ifdef __linux__
class GadgetCradle : public AdapterCradle<emu::HidgMerovox> {
 public:
  GadgetCradle(emu::MerovoxDevice& model, const std::string& name, BusChange on_bus_change)
      : AdapterCradle(model, std::move(on_bus_change)) {
    std::string error;
    if (!adapter_.Open("/sys/kernel/config", "mvx-" + name, "Merovox", {}, &error))
      throw ScenarioSkipped(error);
  }
  std::string Traffic() const override {
    const emu::HidgMerovox::Traffic t = adapter_.Counts();
    return Counted(t.Outputs, t.Inputs) + ", bound " + std::to_string(t.Binds) +
           " times, unbound " + std::to_string(t.Unbinds) + " times";
  }
};
#endif

}  // namespace

std::string KernelDeviceRefusal(const KernelPath& path, const emu::DeviceIdentity& identity) {
#ifndef __linux__
  // Only uhid, through the relay, reaches a kernel from here.
  if (path.Kind != KernelDevice::Uhid || path.Relay.empty())
    return std::string("no ") + KindName(path.Kind) + " outside Linux but through the relay";
#endif
  const std::size_t limit = MaxReportData(path.Kind);
  for (const std::uint16_t length : {identity.InputReportLength, identity.OutputReportLength}) {
    if (length < 2 || length - 1u > limit)
      return "a report of " + std::to_string(length) + " bytes (report ID included) is beyond " +
             KindName(path.Kind) + " (1 to " + std::to_string(limit) + " data bytes)";
  }
  // uhid carries the name in a zero-terminated field; a longer product string
  // would reach the tool cut, unlike on the simulated backend.
  constexpr std::size_t kUhidNameMax = sizeof(emu::uhid::Create2::Name) - 1;
  if (path.Kind == KernelDevice::Uhid && identity.Product.size() > kUhidNameMax)
    return "a product string of " + std::to_string(identity.Product.size()) +
           " bytes is beyond uhid (" + std::to_string(kUhidNameMax) + " bytes)";
  return {};
}

std::unique_ptr<Cradle> MakeKernelCradle(const KernelPath& path, emu::MerovoxDevice& model,
                                         const std::string& name, BusChange on_bus_change) {
  const std::string refusal = KernelDeviceRefusal(path, model.Identity());
  if (!refusal.empty()) throw ScenarioSkipped("device \"" + name + "\": " + refusal);
#ifdef __linux__
  if (path.Kind == KernelDevice::Gadget)
    return std::make_unique<GadgetCradle>(model, name, std::move(on_bus_change));
#endif
  return std::make_unique<UhidCradle>(model, path.Relay, std::move(on_bus_change));
}

}  // namespace mvx::scenario
