// The gadget adapter's configfs side on a plain folder standing in for
// configfs: the attributes it writes are the gadget the host will see, and
// binding, the restart and removal are writes to its UDC attribute. The
// USB traffic itself is met in the VM test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "emulator/gadget/hidg_merovox.h"
#include "emulator/merovox_device.h"
#include "emulator/scheduler.h"
#include "emulator/uhid/uhid_merovox.h"

namespace mvx::emu {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class HidgMerovoxTest : public ::testing::Test {
 protected:
  HidgMerovoxTest() {
    root = fs::temp_directory_path() /
           ("hidg-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root / "usb_gadget");
    config.Identity.Product = "Merovox TV004";
    config.Timing.InstallMs = 10;
    config.Timing.RestartMs = 100;
  }
  ~HidgMerovoxTest() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  // The UDC attribute as configfs would hold it after the last write.
  std::string Udc() { return Read(gadget() / "UDC"); }
  fs::path gadget() { return root / "usb_gadget" / "mvx"; }

  fs::path root;
  DeviceConfig config;
  ThreadScheduler scheduler;
};

TEST_F(HidgMerovoxTest, DescribesTheModelAsAUsbHidGadget) {
  MerovoxDevice device(config, scheduler);
  HidgMerovox hidg(device);
  std::string error;
  ASSERT_TRUE(hidg.Open(root.string(), "mvx", "Merovox", "dummy_udc.0", &error)) << error;
  EXPECT_EQ(Read(gadget() / "idVendor"), "0x5e3a");
  EXPECT_EQ(Read(gadget() / "idProduct"), "0x0051");
  EXPECT_EQ(Read(gadget() / "strings/0x409/manufacturer"), "Merovox");
  EXPECT_EQ(Read(gadget() / "strings/0x409/product"), "Merovox TV004");
  const fs::path function = gadget() / "functions/hid.usb0";
  EXPECT_EQ(Read(function / "report_length"), "1024");
  const std::vector<std::uint8_t> expected = VendorReportDescriptor(1024, 1024);
  EXPECT_EQ(Read(function / "report_desc"), std::string(expected.begin(), expected.end()));
  EXPECT_TRUE(fs::is_symlink(gadget() / "configs/c.1/hid.usb0"));
  EXPECT_EQ(fs::read_symlink(gadget() / "configs/c.1/hid.usb0"), function);
  EXPECT_FALSE(hidg.OnBus());
  EXPECT_FALSE(fs::exists(gadget() / "UDC"));  // made, not bound
}

TEST_F(HidgMerovoxTest, SetInBindsAndRemovalUnbinds) {
  MerovoxDevice device(config, scheduler);
  HidgMerovox hidg(device);
  std::string error;
  ASSERT_TRUE(hidg.Open(root.string(), "mvx", "Merovox", "dummy_udc.0", &error)) << error;
  std::ofstream(gadget() / "UDC").close();  // configfs has the attribute from the start
  hidg.SetIn();
  EXPECT_TRUE(hidg.OnBus());
  EXPECT_EQ(Udc(), "dummy_udc.0");
  hidg.Remove();
  EXPECT_FALSE(hidg.OnBus());
  EXPECT_EQ(Udc(), "\n");
  hidg.SetIn();
  EXPECT_EQ(Udc(), "dummy_udc.0");
  EXPECT_EQ(hidg.Counts().Binds, 2u);
  EXPECT_EQ(hidg.Counts().Unbinds, 1u);
}

TEST_F(HidgMerovoxTest, RefusesAGadgetThatExistsAndAMissingController) {
  fs::create_directories(gadget());
  MerovoxDevice device(config, scheduler);
  HidgMerovox hidg(device);
  std::string error;
  EXPECT_FALSE(hidg.Open(root.string(), "mvx", "Merovox", "dummy_udc.0", &error));
  EXPECT_NE(error.find("exists already"), std::string::npos) << error;

  error.clear();
  EXPECT_FALSE(hidg.Open((root / "missing").string(), "mvx", "Merovox", "dummy_udc.0", &error));
  EXPECT_NE(error.find("cannot make"), std::string::npos) << error;
  hidg.SetIn();
  EXPECT_FALSE(hidg.OnBus());
}

}  // namespace
}  // namespace mvx::emu
