#include "app/log_view.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <cmath>

namespace morlak {

namespace {

const QColor kStampColour(0, 0, 255);      // blue
const QColor kHttpsColour(128, 0, 128);    // purple
const QColor kHttpColour(0, 128, 128);     // teal
const QColor kAnonymousColour(255, 0, 0);  // red
const QColor kUserColour(0, 0, 128);       // navy

QString PrintableText(std::string_view text) {
  return LogView::Printable(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace

LogView::LogView(std::function<int()> maxLines, QWidget* parent)
    : QPlainTextEdit(parent), maxLines_(std::move(maxLines)) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  flushTimer_.setInterval(100);
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

void LogView::AddLog(const std::string& text) {
  const TDateTime now = Now();
  const auto second = static_cast<int64_t>(std::floor(now * 86400.0));
  if (second != stampSecond_ || stamps_.empty()) {
    stampSecond_ = second;
    stamps_.push_back({QString::fromStdString(FormatShortDate(now)),
                       QString::fromStdString(FormatLongTime(now))});
  }
  pending_.push_back({text, maxLines_(), static_cast<int>(stamps_.size()) - 1});
  // A flood between two timer ticks is drawn early rather than held in memory.
  if (pending_.size() >= kMaxPending)
    Flush();
  else if (!flushTimer_.isActive())
    flushTimer_.start();
}

void LogView::Flush() {
  flushTimer_.stop();
  if (pending_.empty()) return;
  // Each insertion first trims the window to its limit; only the newest `count` lines of
  // old and new together survive, so older queued lines need not be drawn at all.
  int count = lineCount_;
  for (const Pending& line : pending_) count = std::min(count, std::max(line.maxLines, 0)) + 1;
  const size_t fresh = std::min<size_t>(count, pending_.size());
  InsertBatch(pending_.size() - fresh);
  // Trim the old lines below the surviving ones.
  if (QTextBlock last = document()->findBlockByNumber(count); last.isValid()) {
    QTextCursor cut(document());
    cut.setPosition(last.position() - 1);
    cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
  }
  lineCount_ = count;

  const Pending& newest = pending_.back();
  std::string_view rest(newest.text);
  for (int i = 0; i < 2 && rest.find('>') != std::string_view::npos; ++i)
    rest.remove_prefix(rest.find('>') + 1);
  const QString restText = QString::fromUtf8(rest.data(), static_cast<qsizetype>(rest.size()));
  const Stamp stamp = stamps_[newest.stampIndex];
  pending_.clear();
  stamps_.clear();
  emit LineShown(restText, stamp.date, stamp.time);
}

void LogView::InsertBatch(size_t first) {
  QTextCursor cursor(document());
  cursor.beginEditBlock();
  cursor.setPosition(0);
  QTextCharFormat stampFormat;
  stampFormat.setForeground(kStampColour);
  const bool hadLines = lineCount_ > 0;
  // Newest first, each followed by a line break except the very last line of the window.
  for (size_t i = pending_.size(); i-- > first;) {
    const Pending& line = pending_[i];
    const Stamp& stamp = stamps_[line.stampIndex];
    cursor.insertText(stamp.date + u' ' + stamp.time + u' ', stampFormat);
    for (const Part& part : SplitLine(line.text)) {
      QTextCharFormat format;
      if (part.colour.isValid()) format.setForeground(part.colour);
      cursor.insertText(part.text, format);
    }
    if (i > first || hadLines) cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
  }
  cursor.endEditBlock();
  verticalScrollBar()->setValue(0);
}

void LogView::Clear() {
  pending_.clear();
  stamps_.clear();
  flushTimer_.stop();
  clear();
  lineCount_ = 0;
}

}  // namespace morlak
