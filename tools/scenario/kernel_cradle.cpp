#include "tools/scenario/cradle.h"

#include <algorithm>

#include "tools/scenario/scenario.h"

#ifdef __linux__
#include <linux/uhid.h>

#include "emulator/gadget/hidg_merovox.h"
#include "emulator/uhid/uhid_merovox.h"
#endif

namespace mvx::scenario {

namespace {

#ifdef __linux__
// Data bytes of one report (the report-ID byte not counted) each kind
// carries: a uhid event's data, and a high-speed interrupt endpoint's packet.
std::size_t MaxReportData(KernelDevice kind) {
  return kind == KernelDevice::Uhid ? UHID_DATA_MAX : 1024;
}
#endif

const char* KindName(KernelDevice kind) {
  return kind == KernelDevice::Uhid ? "uhid" : "the USB gadget";
}

}  // namespace

std::string KernelDeviceRefusal(KernelDevice kind, const emu::DeviceIdentity& identity) {
#ifndef __linux__
  (void)identity;
  return std::string("no ") + KindName(kind) + " outside Linux";
#else
  const std::size_t limit = MaxReportData(kind);
  for (const std::uint16_t length : {identity.InputReportLength, identity.OutputReportLength}) {
    if (length < 2 || length - 1u > limit)
      return "a report of " + std::to_string(length) + " bytes (report ID included) is beyond " +
             KindName(kind) + " (1 to " + std::to_string(limit) + " data bytes)";
  }
  return {};
#endif
}

#ifndef __linux__

std::unique_ptr<Cradle> MakeKernelCradle(KernelDevice kind, emu::MerovoxDevice&, const std::string&,
                                         BusChange) {
  throw ScenarioSkipped(std::string("no ") + KindName(kind) + " outside Linux");
}

#else

namespace {

class UhidCradle : public Cradle {
 public:
  UhidCradle(emu::MerovoxDevice& model, BusChange on_bus_change) : adapter_(model) {
    adapter_.OnBusChange = std::move(on_bus_change);
    std::string error;
    if (!adapter_.Open("/dev/uhid", &error)) throw ScenarioSkipped(error);
  }
  void SetIn() override { adapter_.SetIn(); }
  void Remove() override { adapter_.Remove(); }
  bool OnBus() const override { return adapter_.OnBus(); }
  std::string Traffic() const override {
    const emu::UhidMerovox::Traffic t = adapter_.Counts();
    return std::to_string(t.Outputs) + " output reports, " + std::to_string(t.Inputs) +
           " input reports, created " + std::to_string(t.Creates) + " times";
  }

 private:
  emu::UhidMerovox adapter_;
};

class GadgetCradle : public Cradle {
 public:
  GadgetCradle(emu::MerovoxDevice& model, const std::string& name, BusChange on_bus_change)
      : adapter_(model) {
    adapter_.OnBusChange = std::move(on_bus_change);
    std::string error;
    if (!adapter_.Open("/sys/kernel/config", "mvx-" + name, "Merovox", {}, &error))
      throw ScenarioSkipped(error);
  }
  void SetIn() override { adapter_.SetIn(); }
  void Remove() override { adapter_.Remove(); }
  bool OnBus() const override { return adapter_.OnBus(); }
  std::string Traffic() const override {
    const emu::HidgMerovox::Traffic t = adapter_.Counts();
    return std::to_string(t.Outputs) + " output reports, " + std::to_string(t.Inputs) +
           " input reports, bound " + std::to_string(t.Binds) + " times, unbound " +
           std::to_string(t.Unbinds) + " times";
  }

 private:
  emu::HidgMerovox adapter_;
};

}  // namespace

std::unique_ptr<Cradle> MakeKernelCradle(KernelDevice kind, emu::MerovoxDevice& model,
                                         const std::string& name, BusChange on_bus_change) {
  const std::string refusal = KernelDeviceRefusal(kind, model.Identity());
  if (!refusal.empty()) throw ScenarioSkipped("device \"" + name + "\": " + refusal);
  if (kind == KernelDevice::Uhid)
    return std::make_unique<UhidCradle>(model, std::move(on_bus_change));
  return std::make_unique<GadgetCradle>(model, name, std::move(on_bus_change));
}

#endif

}  // namespace mvx::scenario
