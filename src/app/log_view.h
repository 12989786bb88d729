// The system log window: newest line on top, the time stamp in blue, the request prefix
// in purple (HTTPS) or teal, the user part in red (Anonymous) or navy, the rest in the
// normal colour. Lines are collected as they come and inserted in batches by a short
// timer, so a busy server costs one document update per batch, not one per request;
// the result is the same as inserting each line alone (trimmed to `maxloglines` before
// each insertion, read anew for every line). Text is never interpreted as markup.
#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace morlak {

class LogView : public QPlainTextEdit {
  Q_OBJECT

 public:
  // `maxLines` gives the current `maxloglines` setting.
  explicit LogView(std::function<int()> maxLines, QWidget* parent = nullptr);

  // Queues one line stamped with the current date and time.
  void AddLog(const std::string& text);
  // Inserts the queued lines now (the timer does this every 100 ms).
  void Flush();
  // Empties the window and drops queued lines.
  void Clear();
  int LineCount() const { return lineCount_; }

  // The coloured parts of one line (the stamp excluded); empty parts are absent.
  struct Part {
    QString text;
    QColor colour;  // invalid: the normal text colour
  };
  static std::vector<Part> SplitLine(const std::string& text);
  // The text with control characters replaced by their visible pictures.
  static QString Printable(const QString& text);

 signals:
  // After a batch: the text after the prefixes of its newest line ("rest", as logged,
  // control characters included) and that line's date and time, for the status bar
  // and the tray hint.
  void LineShown(const QString& rest, const QString& date, const QString& time);

 private:
  static constexpr size_t kMaxPending = 10000;
  struct Pending {
    std::string text;
    int maxLines;
    int stampIndex;  // into stamps_
  };
  struct Stamp {
    QString date, time;
  };
  void InsertBatch(size_t first);

  std::function<int()> maxLines_;
  QTimer flushTimer_;
  std::vector<Pending> pending_;
  std::vector<Stamp> stamps_;  // one per second seen in the batch
  int64_t stampSecond_ = -1;
  int lineCount_ = 0;
};

}  // namespace morlak
