// The log control (Memo1) on Qt: the lines are kept once, as the UTF-8 bytes
// the form wrote, in one growing buffer; a list view draws only the rows it
// shows, and only if it is ever shown. New lines reach the view in batches (a
// download logs a 3,000-character line per packet).
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QTimer>
#include <string_view>

#include "base/controls.h"

namespace mvx {

class LogModel : public QAbstractListModel {
 public:
  explicit LogModel(QObject* parent = nullptr);

  // A line is kept at once and shown with the next batch.
  void Append(std::string_view line);
  void Clear();
  // Shows the lines that wait for the next batch now.
  void Flush();

  const LineStore& Lines() const { return lines_; }
  // The lines of the given rows, each followed by a line break.
  QString Text(const QModelIndexList& rows) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  LineStore lines_;
  int shown_ = 0;  // rows the view knows of
  QTimer batch_;
};

class LogView : public QListView {
 public:
  explicit LogView(QWidget* parent);
  LogModel& Model() { return model_; }

 protected:
  // The copy keys put the selected lines (every line when none is selected)
  // on the clipboard.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  LogModel model_;
};

}  // namespace mvx
