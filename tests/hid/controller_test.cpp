// THidDeviceController and THidDevice on the simulated backend: the scan and
// its events, claiming and releasing, and the device's own rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid_test_support.h"

namespace mvx {
namespace {

using testing::ControllerHarness;
using ::testing::ElementsAre;
using testing::Ev;
using ::testing::IsEmpty;

SimDeviceConfig Config(std::uint16_t vendor, std::uint16_t product) {
  SimDeviceConfig config;
  config.VendorID = vendor;
  config.ProductID = product;
  return config;
}

TEST(HidControllerTest, StartUpWithoutDevicesRaisesDeviceChangeOnceAndLaterEmptyScansNothing) {
  ControllerHarness h;
  h.Start();
  EXPECT_THAT(h.events, ElementsAre("change"));
  h.events.clear();
  h.controller->Notify(0);
  h.controller->DeviceChange();
  EXPECT_THAT(h.events, IsEmpty());
}

TEST(HidControllerTest, StartUpListsPresentDevicesInScanOrderThenChanges) {
  ControllerHarness h;
  const int a = h.backend.Plug(SimDeviceConfig{}, nullptr);
  const int b = h.backend.Plug(Config(0x1234, 0x0001), nullptr);
  h.Start();
  const auto ia = h.backend.InstanceOf(a), ib = h.backend.InstanceOf(b);
  EXPECT_THAT(h.events, ElementsAre(Ev("arrival", ia), Ev("arrival", ib), "change"));
  ASSERT_EQ(h.controller->Count(), 2);
  EXPECT_EQ(h.Device(0)->PnPInfo().Instance, ia);
  EXPECT_EQ(h.Device(0)->VendorID(), 0x5E3A);
  EXPECT_EQ(h.Device(1)->ProductID(), 0x0001);
  EXPECT_EQ(h.Device(0)->PnPInfo().Path, h.backend.PathOf(a));
  EXPECT_EQ(h.Device(0)->PnPInfo().Class, "HIDClass");
  EXPECT_THAT(h.Device(0)->PnPInfo().HardwareID,
              ElementsAre("HID\\VID_5E3A&PID_0051&REV_0100", "HID\\VID_5E3A&PID_0051"));
  EXPECT_THAT(h.in_notification_seen, ElementsAre(true, true));
  EXPECT_FALSE(h.Device(0)->InNotification());
  // The scan and the handlers leave no handle open.
  EXPECT_EQ(h.backend.OpenHandles(a), 0);
}

TEST(HidControllerTest, ArrivalAppendsAndLetsTheHandlerQueryTheUnclaimedDevice) {
  ControllerHarness h;
  h.backend.Plug(Config(0x1111, 0x2222), nullptr);
  std::u16string in_handler;
  h.Start();
  h.on_arrival = [&](THidDevice* d) { in_handler = d->GetProductText(); };
  h.events.clear();
  SimDeviceConfig merovox;
  merovox.ProductString = u"Merovox TV-7";
  const int id = h.backend.Plug(merovox, nullptr);
  h.loop.RunPending();
  EXPECT_THAT(h.events, ElementsAre(Ev("arrival", h.backend.InstanceOf(id)), "change"));
  ASSERT_EQ(h.controller->Count(), 2);
  EXPECT_EQ(in_handler, u"Merovox TV-7");
  EXPECT_EQ(h.backend.OpenHandles(id), 0);
}

TEST(HidControllerTest, ProductTextNeedsAClaimOrANotification) {
  ControllerHarness h;
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* d = h.Device(0);
  EXPECT_EQ(d->GetProductText(), u"");  // neither claimed nor in a notification
  THidDevice* claimed = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIndex(0, true, claimed));
  EXPECT_EQ(claimed->GetProductText(), u"Merovox");
  h.controller->Release(claimed);
  EXPECT_EQ(claimed, nullptr);
  EXPECT_EQ(d->GetProductText(), u"Merovox");  // cached
}

TEST(HidControllerTest, RemovalOfAnUnclaimedDeviceDestroysIt) {
  ControllerHarness h;
  const int a = h.backend.Plug(SimDeviceConfig{}, nullptr);
  const int b = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  h.events.clear();
  h.in_notification_seen.clear();
  // The backend forgets an unplugged device once nothing has it open.
  const auto ia = h.backend.InstanceOf(a);
  h.backend.Unplug(a);
  h.loop.RunPending();
  EXPECT_THAT(h.events, ElementsAre(Ev("unplug", ia), Ev("removal", ia), "change"));
  EXPECT_THAT(h.in_notification_seen, ElementsAre(true));
  ASSERT_EQ(h.controller->Count(), 1);
  EXPECT_EQ(h.Device(0)->PnPInfo().Instance, h.backend.InstanceOf(b));
}

TEST(HidControllerTest, RemovalOfAClaimedDeviceKeepsItUntilReleased) {
  ControllerHarness h;
  const int id = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* held = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, held));
  EXPECT_TRUE(held->HasReadThread());
  h.events.clear();

  const auto instance = h.backend.InstanceOf(id);
  h.backend.Unplug(id);
  h.loop.RunPending();
  EXPECT_THAT(h.events, ElementsAre(Ev("unplug", instance), Ev("removal", instance), "change"));
  ASSERT_EQ(h.controller->Count(), 1);
  EXPECT_EQ(h.Device(0), held);
  EXPECT_FALSE(held->Present());
  EXPECT_TRUE(held->HasReadThread());  // goes on until released
  EXPECT_FALSE(held->IsUsable());

  // Every later scan counts it as gone again; the unplug handler was told once.
  h.events.clear();
  h.controller->Notify(0);
  EXPECT_THAT(h.events, ElementsAre(Ev("removal", instance), "change"));

  // Replugged while the old object is still held: a new object arrives.
  h.events.clear();
  const int again = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.loop.RunPending();
  EXPECT_THAT(h.events, ElementsAre(Ev("removal", instance),
                                    Ev("arrival", h.backend.InstanceOf(again)), "change"));
  ASSERT_EQ(h.controller->Count(), 2);
  EXPECT_NE(h.Device(1), held);
  EXPECT_TRUE(h.Device(1)->Present());
  THidDevice* other = nullptr;
  EXPECT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, other));  // the old one is still claimed
  EXPECT_EQ(other, h.Device(1));

  h.controller->Release(held);
  EXPECT_EQ(held, nullptr);
  ASSERT_EQ(h.controller->Count(), 1);
  EXPECT_EQ(h.Device(0), other);
  h.controller->Release(other);
}

TEST(HidControllerTest, IdenticalDevicesAreClaimedInListOrder) {
  ControllerHarness h;
  h.backend.Plug(Config(0x4B9D, 0x6A00), nullptr);
  h.backend.Plug(Config(0x4B9D, 0x6A02), nullptr);
  h.backend.Plug(Config(0x5E3A, 0x0051), nullptr);
  h.backend.Plug(Config(0x5E3A, 0x0051), nullptr);
  h.Start();

  THidDevice* first = nullptr;
  THidDevice* second = nullptr;
  THidDevice* third = nullptr;
  EXPECT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, first));
  EXPECT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, second));
  EXPECT_FALSE(h.controller->ClaimByIds(0x5E3A, 0x0051, third));
  EXPECT_EQ(first, h.Device(2));
  EXPECT_EQ(second, h.Device(3));
  EXPECT_EQ(third, nullptr);

  // Product -1 takes any product of the vendor; the vendor must match.
  THidDevice* any = nullptr;
  EXPECT_FALSE(h.controller->ClaimByIds(0x1234, -1, any));
  EXPECT_TRUE(h.controller->ClaimByIds(0x4B9D, -1, any));
  EXPECT_EQ(any, h.Device(0));
  THidDevice* any2 = nullptr;
  EXPECT_TRUE(h.controller->ClaimByIds(0x4B9D, -1, any2));
  EXPECT_EQ(any2, h.Device(1));

  // IDs compare as 16-bit values.
  h.controller->Release(first);
  THidDevice* wide = nullptr;
  EXPECT_TRUE(h.controller->ClaimByIds(0x15E3A, 0x10051, wide));

  THidDevice* by_index = nullptr;
  EXPECT_FALSE(h.controller->ClaimByIndex(0, true, by_index));  // claimed
  EXPECT_FALSE(h.controller->ClaimByIndex(4, true, by_index));  // no such entry
  h.controller->Release(any);
  EXPECT_FALSE(h.controller->ClaimByIndex(0, false, by_index));
  EXPECT_TRUE(h.controller->ClaimByIndex(0, true, by_index));
  for (THidDevice** d : {&second, &any2, &wide, &by_index}) h.controller->Release(*d);
}

TEST(HidControllerTest, DevicesThatCannotBeBuiltEndTheScanWithTheirError) {
  struct Case {
    const char* name;
    SimDeviceConfig config;
    const char* error;
  };
  SimDeviceConfig fail_open;
  fail_open.FailOpen = true;
  SimDeviceConfig fail_identify;
  fail_identify.FailIdentify = true;
  for (const Case& c : {Case{"open", fail_open, "Device cannot be opened"},
                        Case{"identify", fail_identify, "Device cannot be identified"}}) {
    SCOPED_TRACE(c.name);
    ControllerHarness h;
    h.backend.Plug(SimDeviceConfig{}, nullptr);
    const int bad = h.backend.Plug(c.config, nullptr);
    h.Start();
    EXPECT_THAT(h.errors, ElementsAre(c.error));
    EXPECT_THAT(h.events, IsEmpty());
    EXPECT_EQ(h.controller->Count(), 0);
    EXPECT_THROW(h.controller->DeviceChange(), EControllerError);

    // The guard was released: the next notification scans again.
    h.backend.Unplug(bad);
    h.loop.RunPending();
    EXPECT_EQ(h.controller->Count(), 1);
    EXPECT_THAT(h.events, ElementsAre(::testing::StartsWith("arrival"), "change"));
  }
}

TEST(HidControllerTest, WithoutTheHidLibraryNothingIsScannedOrRaised) {
  ControllerHarness h;
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.backend.SetAvailable(false);
  h.Start();
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.loop.RunPending();
  EXPECT_EQ(h.controller->Count(), 0);
  EXPECT_THAT(h.events, IsEmpty());
}

TEST(HidControllerTest, ExclusiveDeviceIsListedButNeverReads) {
  ControllerHarness h;
  SimDeviceConfig exclusive;
  exclusive.Exclusive = true;
  const int id = h.backend.Plug(exclusive, nullptr);
  h.Start();
  ASSERT_EQ(h.controller->Count(), 1);
  THidDevice* d = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, d));
  EXPECT_FALSE(d->ReadWriteAccess());
  EXPECT_EQ(d->VendorID(), 0x5E3A);
  EXPECT_FALSE(d->HasReadThread());
  std::uint8_t report[1025] = {};
  std::size_t written = 7;
  EXPECT_FALSE(d->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(h.backend.WritesSeen(id), 0);
  HidCaps caps;
  d->QueryCapabilities(caps);  // a query-only handle still answers
  EXPECT_EQ(caps.InputReportByteLength, 1025);
  h.controller->Release(d);
}

TEST(HidControllerTest, WriteReportFailsOnAnUnusableDeviceAndReportsTheOsError) {
  ControllerHarness h;
  const int id = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* d = h.Device(0);
  std::uint8_t report[1025] = {0, 'V', 'E', 'R'};
  std::size_t written = 0;
  EXPECT_FALSE(d->WriteReport(report, sizeof report, written));  // not claimed
  EXPECT_EQ(h.backend.OpenHandles(id), 0);

  ASSERT_TRUE(h.controller->ClaimByIndex(0, true, d));
  EXPECT_TRUE(d->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, sizeof report);
  h.backend.SetWriteError(id, EPIPE);
  EXPECT_FALSE(d->WriteReport(report, sizeof report, written));
  EXPECT_EQ(d->LastError(), static_cast<std::uint32_t>(EPIPE));
  EXPECT_EQ(d->ErrorMessage(d->LastError()), "Broken pipe");
  h.controller->Release(d);
  EXPECT_EQ(h.backend.OpenHandles(id), 0);
}

TEST(HidDeviceTest, WaitSliceTakesOnlyTenToTenThousand) {
  ControllerHarness h;
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* d = h.Device(0);
  struct Case {
    int value;
    unsigned expected;
  };
  for (const Case& c : {Case{9, 100}, Case{10, 10}, Case{10000, 10000}, Case{10001, 10000},
                        Case{-1, 10000}, Case{250, 250}}) {
    d->SetWaitSlice(c.value);
    EXPECT_EQ(d->WaitSlice(), c.expected) << c.value;
  }
}

TEST(HidControllerTest, SettersHandNewValuesOnlyToDevicesThatKeptTheOldOnes) {
  ControllerHarness h;
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* a = h.Device(0);
  THidDevice* b = h.Device(1);

  // The sleep time: b has a slice of its own; a value out of range reaches
  // the property but not the devices.
  b->SetWaitSlice(40);
  h.controller->SetDevThreadSleepTime(30);
  EXPECT_EQ(a->WaitSlice(), 30u);
  EXPECT_EQ(b->WaitSlice(), 40u);
  h.controller->SetDevThreadSleepTime(5);
  EXPECT_EQ(h.controller->DevThreadSleepTime(), 5);
  EXPECT_EQ(a->WaitSlice(), 30u);
  h.controller->SetDevThreadSleepTime(30);
  h.controller->SetDevThreadSleepTime(50);
  EXPECT_EQ(a->WaitSlice(), 50u);
  // A device made by a later scan starts at 100 whatever the property holds.
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.loop.RunPending();
  EXPECT_EQ(h.Device(2)->WaitSlice(), 100u);

  // Handlers: b keeps its own.
  THidDataEvent own_data = [](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {};
  THidDataErrorEvent own_error = [](THidDevice*, std::uint32_t) {};
  THidPlugEvent own_unplug = [](THidDevice*) {};
  b->SetDataHandler(own_data);
  b->DataErrorHandler = own_error;
  b->UnplugHandler = own_unplug;
  THidDataEvent new_data = [](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {};
  THidDataErrorEvent new_error = [](THidDevice*, std::uint32_t) {};
  THidPlugEvent new_unplug = [](THidDevice*) {};
  h.controller->SetOnDeviceData(new_data);
  h.controller->SetOnDeviceDataError(new_error);
  h.controller->SetOnDeviceUnplug(new_unplug);
  EXPECT_TRUE(a->DataHandler() == new_data);
  EXPECT_TRUE(a->DataErrorHandler == new_error);
  EXPECT_TRUE(a->UnplugHandler == new_unplug);
  EXPECT_TRUE(b->DataHandler() == own_data);
  EXPECT_TRUE(b->DataErrorHandler == own_error);
  EXPECT_TRUE(b->UnplugHandler == own_unplug);
  EXPECT_TRUE(h.controller->OnDeviceData() == new_data);

  // The version reads the same whatever is assigned.
  h.controller->SetVersion("2.0");
  EXPECT_EQ(h.controller->Version(), "1.0.35");
}

TEST(HidControllerTest, AssigningOnDeviceChangeScansAtOnceUnlessLoading) {
  ControllerHarness h;
  h.Start();
  h.events.clear();
  int calls = 0;
  TNotifyEvent counting = [&](void*) { ++calls; };
  h.controller->Loading = true;
  h.controller->SetOnDeviceChange(counting);
  EXPECT_EQ(calls, 0);
  h.controller->Loading = false;
  h.controller->SetOnDeviceChange(counting);  // the same handler: nothing
  EXPECT_EQ(calls, 0);

  // A device plugged since the last scan is found by the assignment's scan.
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  TNotifyEvent other = [&](void*) { calls += 10; };
  h.controller->SetOnDeviceChange(other);
  EXPECT_EQ(calls, 10);
  EXPECT_EQ(h.controller->Count(), 1);
}

TEST(HidControllerTest, NotificationDuringAHandlerIsDropped) {
  ControllerHarness h;
  h.Start();
  int nested_arrivals = 0;
  h.on_arrival = [&](THidDevice*) {
    // A handler that pumps messages: the notification for the second device
    // arrives while the first one's is handled.
    h.backend.Plug(SimDeviceConfig{}, nullptr);
    h.loop.RunPending();
    ++nested_arrivals;
  };
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.loop.RunPending();
  EXPECT_EQ(nested_arrivals, 1);
  EXPECT_EQ(h.controller->Count(), 1);
  h.on_arrival = nullptr;
  h.controller->Notify(0);
  EXPECT_EQ(h.controller->Count(), 2);
}

TEST(HidDeviceTest, DestroyingAClaimedPresentDeviceLeavesAFreshOneInItsPlace) {
  ControllerHarness h;
  h.backend.Plug(Config(0x1111, 0x2222), nullptr);
  const int id = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* d = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, d));
  THidDataEvent own = [](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {};
  d->SetDataHandler(own);
  THidPlugEvent unplug = [](THidDevice*) {};
  d->UnplugHandler = unplug;
  d->SetWaitSlice(60);
  ASSERT_TRUE(d->HasReadThread());

  h.controller->Destroy(d);
  EXPECT_EQ(d, nullptr);
  ASSERT_EQ(h.controller->Count(), 2);
  THidDevice* fresh = h.Device(1);
  EXPECT_EQ(fresh->PnPInfo().Instance, h.backend.InstanceOf(id));
  EXPECT_TRUE(fresh->Present());
  EXPECT_FALSE(fresh->Claimed());
  EXPECT_FALSE(fresh->HasReadThread());
  EXPECT_EQ(fresh->WaitSlice(), 60u);
  EXPECT_TRUE(fresh->DataHandler() == own);
  EXPECT_TRUE(fresh->UnplugHandler == unplug);
  EXPECT_EQ(h.backend.OpenHandles(id), 0);

  // The next scan sees the same interface: no event.
  h.events.clear();
  h.controller->Notify(0);
  EXPECT_THAT(h.events, IsEmpty());
}

TEST(HidControllerTest, DestructionMarksClaimedDevicesUnpluggedForTheirHolders) {
  ControllerHarness h;
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* held = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIndex(1, true, held));
  const auto instance = held->PnPInfo().Instance;
  h.events.clear();
  h.controller.reset();
  EXPECT_THAT(h.events, ElementsAre(Ev("unplug", instance)));
  EXPECT_FALSE(held->Present());
  EXPECT_EQ(held->Controller(), nullptr);
  delete held;  // the holder's to destroy; it touches no list
}

}  // namespace
}  // namespace mvx
