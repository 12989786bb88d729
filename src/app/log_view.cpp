#include "app/log_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "platform/datetime.h"

namespace morlak {

const QColor LogView::kStampColour(0, 0, 255);  // blue

namespace {

const QColor kHttpsColour(128, 0, 128);    // purple
const QColor kHttpColour(0, 128, 128);     // teal
const QColor kAnonymousColour(255, 0, 0);  // red
const QColor kUserColour(0, 0, 128);       // navy
constexpr int kMargin = 3;

QString PrintableText(std::string_view text) {
  return LogView::Printable(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace

LogView::LogView(std::function<int()> maxLines, QWidget* parent)
    : QAbstractScrollArea(parent), maxLines_(std::move(maxLines)) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  flushTimer_.setInterval(250);
  flushTimer_.setSingleShot(true);
  connect(&flushTimer_, &QTimer::timeout, this, &LogView::Flush);
}

// Control characters would break the line or vanish; they are shown as their pictures.
QString LogView::Printable(const QString& text) {
  QString out = text;
  for (QChar& c : out) {
    if (c.unicode() < 0x20 && c != u'\t')
      c = QChar(0x2400 + c.unicode());
    else if (c.unicode() == 0x7f)
      c = QChar(0x2421);
  }
  return out;
}

std::vector<LogView::Part> LogView::SplitLine(const std::string& text) {
  std::vector<Part> parts;
  std::string_view rest(text);
  size_t end = rest.find('>');
  if (end != std::string_view::npos) {
    const std::string_view prefix = rest.substr(0, end + 1);
    parts.push_back({PrintableText(prefix),
                     prefix.find("HTTPS") != std::string_view::npos ? kHttpsColour : kHttpColour});
    rest.remove_prefix(end + 1);
    end = rest.find('>');
    if (end != std::string_view::npos) {
      const std::string_view user = rest.substr(0, end + 1);
      parts.push_back({PrintableText(user), user.find("Anonymous") != std::string_view::npos
                                                ? kAnonymousColour
                                                : kUserColour});
      rest.remove_prefix(end + 1);
    }
  }
  parts.push_back({PrintableText(rest), QColor()});
  return parts;
}

void LogView::AddLog(std::string text) {
  const TDateTime now = Now();
  const auto second = static_cast<int64_t>(std::floor(now * 86400.0));
  if (second != stampSecond_) {
    stampSecond_ = second;
    stampDate_ = QString::fromStdString(FormatShortDate(now));
    stampTime_ = QString::fromStdString(FormatLongTime(now));
    stamp_ = stampDate_ + u' ' + stampTime_ + u' ';
  }
  pending_.push_back({{std::move(text), stamp_}, maxLines_()});
  // A flood between two timer ticks is added early rather than held in memory.
  if (pending_.size() >= kMaxPending)
    Flush();
  else if (!flushTimer_.isActive())
    flushTimer_.start();
}

void LogView::Flush() {
  flushTimer_.stop();
  if (pending_.empty()) return;
  const int readerRow = verticalScrollBar()->value();
  const int added = static_cast<int>(pending_.size());
  for (Pending& p : pending_) {
    const size_t keep = static_cast<size_t>(std::max(p.maxLines, 0));
    while (lines_.size() > keep) lines_.pop_back();
    lines_.push_front(std::move(p.line));
    ++newestSerial_;
  }
  pending_.clear();

  const std::string& newest = lines_.front().text;
  std::string_view rest(newest);
  for (int i = 0; i < 2 && rest.find('>') != std::string_view::npos; ++i)
    rest.remove_prefix(rest.find('>') + 1);
  UpdateScrollBars();
  // At the top the view follows the newest line; further down the reader keeps his place.
  verticalScrollBar()->setValue(readerRow == 0 ? 0 : readerRow + added);
  viewport()->update();
  emit LineShown(QString::fromUtf8(rest.data(), static_cast<qsizetype>(rest.size())), stampDate_,
                 stampTime_);
}

void LogView::Clear() {
  pending_.clear();
  flushTimer_.stop();
  lines_.clear();
  anchor_ = focus_ = 0;
  widestLine_ = 0;
  UpdateScrollBars();
  viewport()->update();
}

QString LogView::LineText(int row) const {
  if (row < 0 || row >= LineCount()) return {};
  const Line& line = lines_[static_cast<size_t>(row)];
  return line.stamp + PrintableText(line.text);
}

QString LogView::AllText() const {
  QString text;
  for (int row = 0; row < LineCount(); ++row) text += LineText(row) + u'\n';
  return text;
}

QString LogView::SelectedText() const {
  int first, last;
  if (!SelectedRows(first, last)) return {};
  QString text;
  for (int row = first; row <= last; ++row) text += LineText(row) + u'\n';
  return text;
}

bool LogView::SelectedRows(int& first, int& last) const {
  if (anchor_ == 0 || lines_.empty()) return false;
  const uint64_t oldest = newestSerial_ - lines_.size() + 1;
  const uint64_t newer = std::max(anchor_, focus_), older = std::min(anchor_, focus_);
  if (newer < oldest) return false;  // trimmed away
  first = static_cast<int>(newestSerial_ - newer);
  last = static_cast<int>(newestSerial_ - std::max(older, oldest));
  return true;
}

uint64_t LogView::SerialAt(int y) const {
  const int row = verticalScrollBar()->value() + (y - kMargin) / LineHeight();
  return newestSerial_ - static_cast<uint64_t>(std::clamp(row, 0, LineCount() - 1));
}

QRect LogView::LineRect(int row) const {
  const int y = kMargin + (row - verticalScrollBar()->value()) * LineHeight();
  return QRect(0, y, viewport()->width(), LineHeight());
}

void LogView::CopyToClipboard(const QString& text) {
  QGuiApplication::clipboard()->setText(text);
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    const QString selected = SelectedText();
    CopyToClipboard(selected.isEmpty() ? AllText() : selected);
  } else if (event->matches(QKeySequence::SelectAll) && !lines_.empty()) {
    anchor_ = newestSerial_;
    focus_ = newestSerial_ - lines_.size() + 1;
    viewport()->update();
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || lines_.empty()) return;
  focus_ = SerialAt(event->position().toPoint().y());
  if (!(event->modifiers() & Qt::ShiftModifier) || anchor_ == 0) anchor_ = focus_;
  viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || anchor_ == 0 || lines_.empty()) return;
  // Dragging past an edge scrolls a line at a time.
  const int y = event->position().toPoint().y();
  QScrollBar* bar = verticalScrollBar();
  if (y < 0) bar->setValue(bar->value() - 1);
  if (y > viewport()->height()) bar->setValue(bar->value() + 1);
  focus_ = SerialAt(std::clamp(y, 0, viewport()->height() - 1));
  viewport()->update();
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu;
  const QString selected = SelectedText();
  QAction* copy = menu.addAction("Copy", this, [this, selected] { CopyToClipboard(selected); });
  copy->setEnabled(!selected.isEmpty());
  menu.addAction("Copy Log", this, [this] { CopyToClipboard(AllText()); });
  menu.exec(event->globalPos());
}

int LogView::LineHeight() const {
  return fontMetrics().lineSpacing();
}

void LogView::UpdateScrollBars() {
  const int visibleRows = std::max(1, (viewport()->height() - 2 * kMargin) / LineHeight());
  verticalScrollBar()->setRange(0, std::max(0, LineCount() - visibleRows));
  verticalScrollBar()->setPageStep(visibleRows);
  horizontalScrollBar()->setRange(0, std::max(0, widestLine_ + 2 * kMargin - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void LogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QFontMetrics metrics = fontMetrics();
  const int height = LineHeight();
  const int first = verticalScrollBar()->value();
  const int left = kMargin - horizontalScrollBar()->value();
  const QColor normal = palette().color(QPalette::Text);
  // Light enough behind the coloured parts to keep them readable.
  QColor selection = palette().color(QPalette::Highlight);
  selection.setAlpha(70);
  int selectedFirst = -1, selectedLast = -2;
  SelectedRows(selectedFirst, selectedLast);
  int widest = widestLine_;
  for (int row = first, y = kMargin; row < LineCount() && y < viewport()->height();
       ++row, y += height) {
    const Line& line = lines_[static_cast<size_t>(row)];
    if (row >= selectedFirst && row <= selectedLast) painter.fillRect(LineRect(row), selection);
    int x = left;
    painter.setPen(kStampColour);
    painter.drawText(x, y + metrics.ascent(), line.stamp);
    x += metrics.horizontalAdvance(line.stamp);
    for (const Part& part : SplitLine(line.text)) {
      painter.setPen(part.colour.isValid() ? part.colour : normal);
      painter.drawText(x, y + metrics.ascent(), part.text);
      x += metrics.horizontalAdvance(part.text);
    }
    widest = std::max(widest, x - left);
  }
  if (widest != widestLine_) {
    widestLine_ = widest;
    UpdateScrollBars();
  }
}

}  // namespace morlak
