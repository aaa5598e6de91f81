// One open device handle: hid.dll queries, synchronous writes and the read
// thread's overlapped reads.
//
// A read is started with ReadFileEx and its completion is noticed through the
// alertable SleepEx returning after the completion routine ran. The system
// writes into the read's OVERLAPPED block and buffer until the read completes,
// which can be after the handle has been closed on another thread; both live in
// a block that the completion routine releases, so they stay valid until the
// system is done with them.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "hid/windows/win_hid_api.h"

namespace mvx::win {
namespace {

struct ReadBlock {
  // ReadFileEx leaves the event member to the caller: it carries the block to
  // the completion routine.
  OVERLAPPED overlapped{};
  std::vector<std::uint8_t> data;
  std::atomic<bool> done{false};
  DWORD error = 0;
  // One reference for the handle, one for the read while the system has it.
  std::atomic<int> references{2};

  explicit ReadBlock(std::size_t length) : data(length, 0) {}

  void Release() {
    if (references.fetch_sub(1) == 1) delete this;
  }
};

VOID CALLBACK ReadCompleted(DWORD error, DWORD, LPOVERLAPPED overlapped) {
  auto* block = static_cast<ReadBlock*>(overlapped->hEvent);
  block->error = error;
  block->done = true;
  block->Release();
}

VOID CALLBACK WakeUp(ULONG_PTR) {}

using CancelIoFunction = BOOL(WINAPI*)(HANDLE);

// CancelIo is looked up at run time, so that a kernel32 without it still runs
// the tool; then a pending read is left to end with its handle.
CancelIoFunction CancelIoFromKernel32() {
  static const CancelIoFunction function = [] {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    FARPROC proc = kernel32 ? GetProcAddress(kernel32, "CancelIo") : nullptr;
    return reinterpret_cast<CancelIoFunction>(reinterpret_cast<void (*)()>(proc));
  }();
  return function;
}

// How long a cancelled or abandoned read may take to hand its block back.
constexpr int kCompletionWaitSlices = 20;
constexpr DWORD kCompletionSliceMs = 50;

class WinHidHandle : public IHidHandle {
 public:
  WinHidHandle(HANDLE handle, const HidDllFunctions& hid) : handle_(handle), hid_(hid) {}

  ~WinHidHandle() override {
    // Closing the handle ends a pending read; its block goes when the
    // completion routine has run on the reading thread.
    CloseHandle(handle_);
    if (read_ != nullptr && !read_->done && GetCurrentThreadId() == reader_id_) AwaitCompletion();
    if (read_ != nullptr) read_->Release();
    if (reader_ != nullptr) CloseHandle(reader_);
  }
  WinHidHandle(const WinHidHandle&) = delete;
  WinHidHandle& operator=(const WinHidHandle&) = delete;

  bool GetAttributes(HidAttributes& attributes) override {
    attributes.Size = sizeof(HidAttributes);
    if (hid_.GetAttributes(handle_, &attributes)) return true;
    SetLastBackendError(GetLastError());
    return false;
  }

  bool GetCaps(HidCaps& caps) override {
    caps = HidCaps{};
    void* preparsed = nullptr;
    if (!hid_.GetPreparsedData(handle_, &preparsed) || preparsed == nullptr) {
      SetLastBackendError(GetLastError());
      return false;
    }
    const bool ok = hid_.GetCaps(preparsed, &caps) == kHidpStatusSuccess;
    hid_.FreePreparsedData(preparsed);
    if (!ok) caps = HidCaps{};
    return ok;
  }

  bool GetProductString(std::u16string& text, std::size_t max_chars) override {
    text.clear();
    // 254 wide characters: the longest USB string descriptor.
    wchar_t buffer[254] = {};
    if (!hid_.GetProductString(handle_, buffer, sizeof buffer)) {
      SetLastBackendError(GetLastError());
      return false;
    }
    const std::size_t limit = std::min<std::size_t>(max_chars, std::size(buffer));
    for (std::size_t i = 0; i < limit && buffer[i] != 0; ++i)
      text.push_back(static_cast<char16_t>(buffer[i]));
    return true;
  }

  bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    written = 0;
    DWORD done = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(length), &done, nullptr)) {
      SetLastBackendError(GetLastError());
      return false;
    }
    written = done;
    return true;
  }

  bool BeginRead(std::uint8_t* buffer, std::size_t length) override {
    if (read_ != nullptr && !read_->done) {
      SetLastBackendError(ERROR_BUSY);
      return false;
    }
    RememberReader();
    if (read_ != nullptr) read_->Release();
    read_ = new ReadBlock(length);
    read_->overlapped.hEvent = read_;
    target_ = buffer;
    if (!ReadFileEx(handle_, read_->data.data(), static_cast<DWORD>(length), &read_->overlapped,
                    ReadCompleted)) {
      SetLastBackendError(GetLastError());
      // No read is pending: the block is the handle's alone.
      read_->done = true;
      read_->references = 1;
      return false;
    }
    return true;
  }

  bool WaitRead(unsigned slice_ms) override {
    if (interrupted_.exchange(false)) return false;
    if (read_ == nullptr || read_->done) return true;
    SleepEx(slice_ms, TRUE);
    return read_->done;
  }

  std::size_t FinishRead() override {
    if (read_ == nullptr || !read_->done || read_->error != 0) return 0;
    DWORD transferred = 0;
    if (!GetOverlappedResult(handle_, &read_->overlapped, &transferred, FALSE)) {
      SetLastBackendError(GetLastError());
      return 0;
    }
    const std::size_t count = std::min<std::size_t>(transferred, read_->data.size());
    if (target_ != nullptr) std::memcpy(target_, read_->data.data(), count);
    return count;
  }

  bool CancelRead() override {
    const CancelIoFunction cancel_io = CancelIoFromKernel32();
    if (cancel_io == nullptr) {
      SetLastBackendError(ERROR_PROC_NOT_FOUND);
      return false;
    }
    if (!cancel_io(handle_)) {
      SetLastBackendError(GetLastError());
      return false;
    }
    if (read_ != nullptr && !read_->done) AwaitCompletion();
    return true;
  }

  void Interrupt() override {
    interrupted_ = true;
    std::lock_guard<std::mutex> lock(reader_mutex_);
    if (reader_ != nullptr) QueueUserAPC(WakeUp, reader_, 0);
  }

 private:
  // The thread that reads is the one whose alertable waits see the read's
  // completion, and the one an interrupt must wake.
  void RememberReader() {
    const DWORD id = GetCurrentThreadId();
    if (reader_ != nullptr && reader_id_ == id) return;
    HANDLE thread = OpenThread(THREAD_SET_CONTEXT, FALSE, id);
    std::lock_guard<std::mutex> lock(reader_mutex_);
    if (reader_ != nullptr) CloseHandle(reader_);
    reader_ = thread;
    reader_id_ = id;
  }

  void AwaitCompletion() {
    for (int i = 0; i < kCompletionWaitSlices && !read_->done; ++i)
      SleepEx(kCompletionSliceMs, TRUE);
    if (!read_->done) {
      // The system still holds the block: leave it to the completion routine
      // (or to the end of the process) rather than free what may be written.
      read_->Release();
      read_ = nullptr;
      target_ = nullptr;
    }
  }

  HANDLE handle_;
  const HidDllFunctions& hid_;
  ReadBlock* read_ = nullptr;
  std::uint8_t* target_ = nullptr;
  std::atomic<bool> interrupted_{false};
  std::mutex reader_mutex_;
  HANDLE reader_ = nullptr;
  DWORD reader_id_ = 0;
};

}  // namespace

std::unique_ptr<IHidHandle> MakeDeviceHandle(HANDLE handle, const HidDllFunctions& hid) {
  return std::make_unique<WinHidHandle>(handle, hid);
}

}  // namespace mvx::win
