#include "hid/windows/thread_name.h"

#include "hid/thread_name.h"
#include "hid/windows/win_hid_api.h"

namespace mvx::win {
namespace {

// The record that Windows debuggers read from the naming exception.
constexpr DWORD kThreadNameException = 0x406D1388;
#pragma pack(push, 8)
struct ThreadNameInfo {
  DWORD type;  // 0x1000
  LPCSTR name;
  DWORD thread_id;
  DWORD flags;
};
#pragma pack(pop)

using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);

SetThreadDescriptionFunction SetThreadDescriptionFromKernel32() {
  static const SetThreadDescriptionFunction function = [] {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel32 ? GetProcAddress(kernel32, "SetThreadDescription") : nullptr;
    return reinterpret_cast<SetThreadDescriptionFunction>(reinterpret_cast<void (*)()>(proc));
  }();
  return function;
}

// A debugger that does not know the exception passes it back: this handler
// ends it there, since mingw has no structured exception handling to catch it.
LONG CALLBACK SwallowNamingException(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == kThreadNameException)
    return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool AnnounceThreadNameToDebugger(const std::string& name, long thread_id) {
  if (!IsDebuggerPresent()) return false;
  ThreadNameInfo info{0x1000, name.c_str(),
                      thread_id == -1 ? GetCurrentThreadId() : static_cast<DWORD>(thread_id), 0};
  PVOID handler = AddVectoredExceptionHandler(1, SwallowNamingException);
  RaiseException(kThreadNameException, 0, sizeof info / sizeof(ULONG_PTR),
                 reinterpret_cast<const ULONG_PTR*>(&info));
  if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
  return true;
}

}  // namespace mvx::win

namespace mvx {

void NameThreadForDebuggers(const std::string& name, long thread_id) {
  if (const win::SetThreadDescriptionFunction describe = win::SetThreadDescriptionFromKernel32()) {
    HANDLE thread = thread_id == -1 ? GetCurrentThread()
                                    : OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE,
                                                 static_cast<DWORD>(thread_id));
    if (thread != nullptr) {
      describe(thread, win::Utf8ToWide(name).c_str());
      if (thread_id != -1) CloseHandle(thread);
      return;
    }
  }
  win::AnnounceThreadNameToDebugger(name, thread_id);
}

}  // namespace mvx
