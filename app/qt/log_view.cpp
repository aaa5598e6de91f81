#include "app/qt/log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <algorithm>

namespace mvx {
namespace {

// How long a new line may wait for the view: short to the eye, long enough to
// gather the lines of many packets.
constexpr int kBatchMs = 100;

QString Decoded(std::string_view line) {
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

}  // namespace

LogModel::LogModel(QObject* parent) : QAbstractListModel(parent) {
  batch_.setSingleShot(true);
  batch_.setInterval(kBatchMs);
  connect(&batch_, &QTimer::timeout, this, [this] { Flush(); });
}

void LogModel::Append(std::string_view line) {
  lines_.Append(line);
  if (!batch_.isActive()) batch_.start();
}

void LogModel::Clear() {
  batch_.stop();
  beginResetModel();
  lines_.Clear();
  shown_ = 0;
  endResetModel();
}

void LogModel::Flush() {
  batch_.stop();
  const int count = static_cast<int>(lines_.Count());
  if (count == shown_) return;
  beginInsertRows(QModelIndex(), shown_, count - 1);
  shown_ = count;
  endInsertRows();
}

QString LogModel::Text(const QModelIndexList& rows) const {
  std::vector<int> numbers;
  numbers.reserve(static_cast<std::size_t>(rows.size()));
  for (const QModelIndex& row : rows)
    if (row.isValid() && row.row() < shown_) numbers.push_back(row.row());
  std::sort(numbers.begin(), numbers.end());
  std::string text;
  for (const int row : numbers)
    text.append(lines_.Line(static_cast<std::size_t>(row))).append("\n");
  return Decoded(text);
}

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_;
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_) return {};
  return Decoded(lines_.Line(static_cast<std::size_t>(index.row())));
}

LogView::LogView(QWidget* parent) : QListView(parent), model_(this) {
  setModel(&model_);
  // Every row is one line of the same height: the view never measures the
  // rows it does not draw.
  setUniformItemSizes(true);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
      for (int row = 0; row < model_.rowCount(); ++row) rows.push_back(model_.index(row));
    QApplication::clipboard()->setText(model_.Text(rows));
    event->accept();
    return;
  }
  QListView::keyPressEvent(event);
}

}  // namespace mvx
