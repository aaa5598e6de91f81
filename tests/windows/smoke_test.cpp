// The Windows backend under the real controller: the libraries load, the
// first notification scans, the system's device-change broadcast rescans; and
// the fallbacks when a library is missing.
#include <gtest/gtest.h>

#include <thread>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/thread_name.h"
#include "hid/windows/thread_name.h"
#include "hid/windows/win_hid_backend.h"
#include "tests/windows/win_test_support.h"
// after windows.h
#include <dbt.h>

namespace mvx {
namespace {

constexpr const char* kStandardHidGuid = "{4D1E55B2-F16F-11CF-88CB-001111000030}";

// Counts the scans the controller asks for.
class CountingBackend : public IHidBackend {
 public:
  explicit CountingBackend(IHidBackend& real) : real_(real) {}
  bool Available() override { return real_.Available(); }
  std::vector<HidInterfaceInfo> Enumerate() override {
    ++scans;
    return real_.Enumerate();
  }
  std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) override {
    return real_.Open(path, mode);
  }
  std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop, std::function<void()> f) override {
    return real_.WatchChanges(loop, std::move(f));
  }
  std::uint32_t LastError() override { return real_.LastError(); }
  std::string ErrorMessage(std::uint32_t code) override { return real_.ErrorMessage(code); }

  int scans = 0;

 private:
  IHidBackend& real_;
};

// The controller's change window on this thread (other test programs may
// have theirs).
HWND ChangeWindowOfThisThread() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM result) -> BOOL {
        char name[64] = {};
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) != win::kChangeWindowClass) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// What the system does when device nodes change: the message sent from
// another thread, delivered while the GUI thread pumps its messages.
void SendFromSystem(VirtualLoop& loop, HWND window, WPARAM code) {
  std::atomic<bool> sent{false};
  std::thread system([&] {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_DEVICECHANGE, code, 0, SMTO_NORMAL, 5000, &result);
    sent = true;
  });
  wintest::PumpUntil(loop, [&] { return sent.load(); });
  system.join();
  wintest::Pump(loop);
}

TEST(WinSmokeTest, LibrariesLoadAndTheHidClassIsTheStandardOne) {
  WinHidBackend backend;
  ASSERT_TRUE(backend.Available());
  EXPECT_EQ(backend.HidClassGuidText(), kStandardHidGuid);
}

TEST(WinSmokeTest, FirstNotificationScansOnceAndADeviceChangeRescans) {
  WinHidBackend windows;
  CountingBackend backend(windows);
  VirtualLoop loop;
  int changes = 0;
  {
    THidDeviceController controller(loop, backend);
    controller.Loading = true;
    controller.SetOnDeviceChange([&](void*) { ++changes; });
    controller.Loading = false;

    HWND window = ChangeWindowOfThisThread();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());  // top-level
    EXPECT_FALSE(IsWindowVisible(window));

    wintest::Pump(loop);
    EXPECT_EQ(backend.scans, 1);
    EXPECT_EQ(changes, 1);
    const int listed = controller.Count();
    EXPECT_EQ(listed, static_cast<int>(windows.Enumerate().size()));

    SendFromSystem(loop, window, DBT_DEVNODES_CHANGED);
    EXPECT_EQ(backend.scans, 2);
    EXPECT_EQ(changes, 1);  // nothing changed
    EXPECT_EQ(controller.Count(), listed);

    // Arrivals of single interfaces are not what the controller waits for.
    SendFromSystem(loop, window, DBT_DEVICEARRIVAL);
    EXPECT_EQ(backend.scans, 2);

    // A broadcast reaches the window (it would pass a message-only one by).
    PostMessageA(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    wintest::Pump(loop);
    EXPECT_EQ(backend.scans, 3);
  }
  EXPECT_EQ(ChangeWindowOfThisThread(), nullptr);
}

TEST(WinSmokeTest, WithoutHidDllNothingIsScannedAndTheStandardClassIsKept) {
  struct Missing {
    const char* setupapi;
    const char* hid;
  };
  for (const Missing& m : {Missing{"setupapi.dll", "mvx-missing-hid.dll"},
                           Missing{"mvx-missing-setupapi.dll", "hid.dll"}}) {
    SCOPED_TRACE(std::string(m.setupapi) + " " + m.hid);
    WinHidBackend windows(m.setupapi, m.hid);
    EXPECT_FALSE(windows.Available());
    EXPECT_EQ(windows.HidClassGuidText(), kStandardHidGuid);
    EXPECT_TRUE(windows.Enumerate().empty());
    EXPECT_EQ(windows.Open("\\\\?\\hid#any", HidOpenMode::ReadWrite), nullptr);

    CountingBackend backend(windows);
    VirtualLoop loop;
    int changes = 0;
    THidDeviceController controller(loop, backend);
    controller.Loading = true;
    controller.SetOnDeviceChange([&](void*) { ++changes; });
    controller.Loading = false;
    EXPECT_EQ(ChangeWindowOfThisThread(), nullptr);
    wintest::Pump(loop);
    EXPECT_EQ(backend.scans, 0);
    EXPECT_EQ(changes, 0);
  }
}

TEST(WinThreadNameTest, NamesTheThreadAndNeverRaisesWithoutADebugger) {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  auto get_description = reinterpret_cast<GetDescription>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadDescription")));
  std::wstring seen;
  bool announced = true;
  std::thread reader([&] {
    NameThreadForDebuggers("THidDeviceReadThread", -1);
    PWSTR description = nullptr;
    if (get_description && SUCCEEDED(get_description(GetCurrentThread(), &description))) {
      seen = description;
      LocalFree(description);
    }
    // With no debugger attached the naming exception would end the process.
    announced = win::AnnounceThreadNameToDebugger("THidDeviceReadThread", -1);
  });
  reader.join();
  EXPECT_FALSE(announced);
  if (get_description == nullptr) GTEST_SKIP() << "this system has no thread descriptions";
  EXPECT_EQ(seen, L"THidDeviceReadThread");
}

}  // namespace
}  // namespace mvx
