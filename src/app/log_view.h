// The system log window: newest line on top, the time stamp in blue, the request prefix
// in purple (HTTPS) or teal, the user part in red (Anonymous) or navy, the rest in the
// normal colour. Text is drawn as it is, never interpreted as markup.
// A busy server logs thousands of lines a second, so the view keeps its lines in a plain
// list and draws only the rows on screen: adding a line costs no layout work. Lines are
// collected as they come and added in batches by a 250 ms timer, each trimmed to
// `maxloglines` before its insertion (the setting is read anew for every line).
// The view follows the newest line while it is scrolled to the top; scrolled away, it keeps
// the reader's lines in place as new ones arrive. Lines are selected with the mouse (Shift
// extends, Ctrl+A takes all) and copied with Ctrl+C or the context menu.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace morlak {

class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // `maxLines` gives the current `maxloglines` setting.
  explicit LogView(std::function<int()> maxLines, QWidget* parent = nullptr);

  // Queues one line stamped with the current date and time.
  void AddLog(std::string text);
  // Adds the queued lines now (the timer does this every 250 ms).
  void Flush();
  // Empties the window and drops queued lines.
  void Clear();
  int LineCount() const { return static_cast<int>(lines_.size()); }
  // Line `row` (0 = newest) as shown: time stamp, blank, text.
  QString LineText(int row) const;
  // Every line as shown, newest first, one per text line ("Copy Log" in the context menu,
  // and Ctrl+C when no line is selected).
  QString AllText() const;
  // The selected lines the same way; "" when none is selected.
  QString SelectedText() const;
  // Where line `row` is drawn in the viewport at the current scroll position.
  QRect LineRect(int row) const;

  // The coloured parts of one line after its stamp; the last part is the "rest" in the
  // normal colour (an invalid colour).
  struct Part {
    QString text;
    QColor colour;
  };
  static std::vector<Part> SplitLine(const std::string& text);
  // The text with control characters replaced by their visible pictures.
  static QString Printable(const QString& text);
  static const QColor kStampColour;

 signals:
  // After a batch: the text after the prefixes of its newest line ("rest", as logged,
  // control characters included) and that line's date and time, for the status bar
  // and the tray hint.
  void LineShown(const QString& rest, const QString& date, const QString& time);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  static constexpr size_t kMaxPending = 10000;
  struct Line {
    std::string text;
    QString stamp;  // "date time ", shared by the lines of one second
  };
  struct Pending {
    Line line;
    int maxLines;
  };
  void UpdateScrollBars();
  int LineHeight() const;
  // The serial of the line at viewport height `y`, clamped to the lines there are.
  uint64_t SerialAt(int y) const;
  // The selected rows, first <= last; false when nothing (still shown) is selected.
  bool SelectedRows(int& first, int& last) const;
  void CopyToClipboard(const QString& text);

  std::function<int()> maxLines_;
  QTimer flushTimer_;
  std::vector<Pending> pending_;
  std::deque<Line> lines_;  // newest first
  // Lines are numbered from 1 as they are added, so a selection stays on its lines while
  // new ones push them down; 0 means no selection.
  uint64_t newestSerial_ = 0;
  uint64_t anchor_ = 0, focus_ = 0;
  int64_t stampSecond_ = -1;
  QString stamp_, stampDate_, stampTime_;
  int widestLine_ = 0;  // pixels, of the lines drawn so far
};

}  // namespace morlak
