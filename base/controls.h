// The main window's controls as the core holds them: text holders with the
// state that the operator sees and the steps read back. The shell binds a
// widget to each through OnChanged; the scenario runner records them the same
// way.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/large_block.h"

namespace mvx {

class TControl {
 public:
  std::string Name;
  // Told after every change of the control's state.
  std::function<void()> OnChanged;

 protected:
  void Changed() {
    if (OnChanged) OnChanged();
  }
};

class TLabel : public TControl {
 public:
  // Set for a label the operator may click.
  std::function<void()> OnClick;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) {
    caption_ = caption;
    Changed();
  }

 private:
  std::string caption_;
};

class TCheckBox : public TControl {
 public:
  std::string Caption;
  bool TabStop = true;
  // Runs after every change of Checked, by the operator or by the program.
  std::function<void()> OnClick;

  bool Checked() const { return checked_; }
  void SetChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    Changed();
    if (OnClick) OnClick();
  }

 private:
  bool checked_ = false;
};

class TButton : public TControl {
 public:
  std::string Caption;
  std::function<void()> OnClick;
};

class TProgressBar : public TControl {
 public:
  long long Position() const { return position_; }
  long long Max() const { return max_; }
  void SetPosition(long long position) {
    position_ = position;
    Changed();
  }
  void SetMax(long long max) {
    max_ = max;
    Changed();
  }

 private:
  long long position_ = 0;
  long long max_ = 100;
};

class TMenuItem : public TControl {
 public:
  std::string Caption;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Changed();
  }

 private:
  bool enabled_ = true;
};

// The log: a text with embedded line breaks becomes several lines, as a
// multi-line text control shows it. The control keeps no lines itself: the
// shell's log view, the scenario transcript and the tests listen for them, and
// each keeps what it needs.
class TMemo : public TControl {
 public:
  struct Listener {
    std::function<void(std::string_view line)> LineAdded;
    std::function<void()> Cleared;
  };

  // Listening lasts as long as the subscription; the memo must outlive it.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(TMemo& memo, int key) : memo_(&memo), key_(key) {}
    Subscription(Subscription&& other) noexcept { *this = std::move(other); }
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { Cancel(); }
    void Cancel();

   private:
    TMemo* memo_ = nullptr;
    int key_ = 0;
  };

  // Listeners are told in the order they subscribed.
  [[nodiscard]] Subscription Listen(Listener listener);
  void Add(std::string_view text);
  void Clear();

 private:
  void Forget(int key);

  std::vector<std::pair<int, Listener>> listeners_;
  int next_key_ = 0;
};

// Lines of text kept compactly: the bytes of the lines one after the other in
// large blocks, which never move once written (a buffer that grew by copying
// would need twice the log for a moment), and where each line lies. A log of
// tens of megabytes costs its bytes and sixteen more per line.
class LineStore {
 public:
  void Append(std::string_view line);
  void Clear();
  std::size_t Count() const { return lines_.size(); }
  std::string_view Line(std::size_t index) const { return lines_.at(index); }
  std::size_t Bytes() const { return bytes_; }
  // Every line, each followed by the separator.
  std::string Joined(std::string_view separator) const;
  // Lines from first to the end as strings (for tests and transcripts).
  std::vector<std::string> Copy(std::size_t first = 0) const;

 private:
  std::vector<LargeBlock> blocks_;
  char* free_ = nullptr;  // where the last block's unused room begins
  std::size_t room_ = 0;  // and how much there is
  std::vector<std::string_view> lines_;
  std::size_t bytes_ = 0;
};

// A LineStore that listens to a memo for as long as it lives.
class MemoRecorder {
 public:
  explicit MemoRecorder(TMemo& memo);
  // The memo tells this object: it stays where it was made.
  MemoRecorder(const MemoRecorder&) = delete;
  MemoRecorder& operator=(const MemoRecorder&) = delete;
  const LineStore& Lines() const { return lines_; }

 private:
  LineStore lines_;
  TMemo::Subscription subscription_;
};

}  // namespace mvx
