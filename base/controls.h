// The main window's controls as the core holds them: text holders with the
// state that the operator sees and the steps read back. The shell binds a
// widget to each through OnChanged; the scenario runner records them the same
// way.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

// The log: one entry per appended line; a text with embedded line breaks
// becomes several lines, as a multi-line text control shows it.
class TMemo : public TControl {
 public:
  std::function<void(const std::string& line)> OnLineAdded;
  std::function<void()> OnCleared;

  const std::vector<std::string>& Lines() const { return lines_; }
  void Add(const std::string& text);
  void Clear();

 private:
  std::vector<std::string> lines_;
};

}  // namespace mvx
