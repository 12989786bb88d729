#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include "main_window_fixture.h"

namespace morlak::test_support {
namespace {

// The coloured parts of a line: text and colour name ("" for the normal colour).
std::vector<std::pair<QString, QString>> Runs(const std::string& text) {
  std::vector<std::pair<QString, QString>> runs;
  for (const LogView::Part& part : LogView::SplitLine(text))
    runs.emplace_back(part.text, part.colour.isValid() ? part.colour.name() : QString());
  return runs;
}

TEST_F(MainWindowTest, LogLinesAreColouredByTheirParts) {
  Open();
  struct Case {
    const char* text;
    std::vector<std::pair<QString, QString>> parts;  // after the blue stamp
    const char* status;
  } cases[] = {
      {"HTTPS://host> 127.0.0.1:4431, Anonymous> file sent",
       {{"HTTPS://host>", "#800080"},
        {" 127.0.0.1:4431, Anonymous>", "#ff0000"},
        {" file sent", ""}},
       " file sent"},
      {"HTTP://host> 127.0.0.1:80, alice> served /a.html",
       {{"HTTP://host>", "#008080"}, {" 127.0.0.1:80, alice>", "#000080"}, {" served /a.html", ""}},
       " served /a.html"},
      {"- HTTP server started (port=80)",
       {{"- HTTP server started (port=80)", ""}},
       "- HTTP server started (port=80)"},
  };
  for (const Case& c : cases) {
    window->AddLog(c.text);
    EXPECT_EQ(LogLines().first(), c.text);
    EXPECT_EQ(Runs(c.text), c.parts) << c.text;
    EXPECT_EQ(Label("message"), c.status);
  }
  // Drawn: the blue stamps and the purple HTTPS prefix reach the screen.
  window->resize(900, 400);
  const QImage shown = window->Log().viewport()->grab().toImage();
  auto has = [&](auto test) {
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x)
        if (test(shown.pixelColor(x, y))) return true;
    return false;
  };
  EXPECT_TRUE(has([](QColor c) { return c.blue() > 200 && c.red() < 80 && c.green() < 80; }));
  EXPECT_TRUE(has([](QColor c) {
    return c.red() > 100 && c.red() < 160 && c.blue() > 100 && c.blue() < 160 && c.green() < 60;
  }));
}

TEST_F(MainWindowTest, LogKeepsMaxLogLinesPlusTheNewestWhetherBatchedOrNot) {
  Open();
  SettingsValues values = window->Core().Settings().Get();
  values.maxLogLines = 3;
  window->Core().Settings().Set(values);
  for (bool batched : {true, false}) {
    window->Log().Clear();
    for (int i = 1; i <= 6; ++i) {
      window->AddLog("line " + std::to_string(i));
      if (!batched) window->Log().Flush();
    }
    EXPECT_EQ(LogLines(), (QStringList{"line 6", "line 5", "line 4", "line 3"}));
  }
  // Each line is trimmed with the limit of its own moment: a limit of 0 keeps one line.
  values.maxLogLines = 0;
  window->Core().Settings().Set(values);
  window->AddLog("line 7");
  values.maxLogLines = 5;
  window->Core().Settings().Set(values);
  window->AddLog("line 8");
  EXPECT_EQ(LogLines(), (QStringList{"line 8", "line 7"}));
}

TEST_F(MainWindowTest, LogShowsMarkupControlsAndHugeLinesAsText) {
  Open();
  window->Log().Clear();
  const std::string huge(100 * 1024, 'x');
  window->AddLog(huge);
  window->AddLog("- <b>bold</b> &amp; <img src=x>");
  window->AddLog("- a\rb\nc\x01");
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QString("- a") + QChar(0x240D) + "b" + QChar(0x240A) + "c" + QChar(0x2401));
  EXPECT_EQ(lines[1], "- <b>bold</b> &amp; <img src=x>");
  EXPECT_EQ(lines[2].size(), static_cast<qsizetype>(huge.size()));
  // The status bar shows text, and a long line does not widen the window.
  window->AddLog("HTTP://h> 1.2.3.4:5, Anonymous> <i>x</i>");
  window->Log().Flush();
  QLabel* status = window->findChild<QLabel*>("message");
  EXPECT_EQ(status->textFormat(), Qt::PlainText);
  EXPECT_EQ(status->text(), " <i>x</i>");
  EXPECT_LT(window->minimumSizeHint().width(), 2000);
}

TEST_F(MainWindowTest, LogKeepsTheReadersPlaceAndCopiesTheSelectedLines) {
  Open();
  window->resize(900, 400);
  LogView& log = window->Log();
  log.Clear();
  auto add = [&](int from, int to) {
    for (int i = from; i <= to; ++i) window->AddLog("line " + std::to_string(i));
    log.Flush();
  };
  auto text = [](const QString& lines) {
    QStringList out;
    for (const QString& line : lines.split(u'\n', Qt::SkipEmptyParts)) out << line.section(u' ', 2);
    return out;
  };
  add(1, 100);
  QScrollBar* bar = log.verticalScrollBar();
  bar->setValue(10);  // "line 90" on top
  add(101, 105);
  EXPECT_EQ(bar->value(), 15);
  EXPECT_EQ(text(log.LineText(bar->value())), QStringList{"line 90"});

  QTest::mouseClick(log.viewport(), Qt::LeftButton, {}, log.LineRect(15).center());
  QTest::mouseClick(log.viewport(), Qt::LeftButton, Qt::ShiftModifier, log.LineRect(17).center());
  add(106, 106);  // the selection stays on its lines
  QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(text(QGuiApplication::clipboard()->text()),
            (QStringList{"line 90", "line 89", "line 88"}));

  // Back at the top, the view follows the newest line again.
  bar->setValue(0);
  add(107, 107);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(text(log.LineText(0)), QStringList{"line 107"});
}

TEST_F(MainWindowTest, TrayHintFollowsTheLog) {
  Open();
  window->AddLog("- stopped line\r");
  window->Log().Flush();
  EXPECT_TRUE(window->Tray().Hint().startsWith("WEB Server Running\rTime: "));
  EXPECT_FALSE(window->Tray().Hint().contains("Action"));
  window->StartServers();
  window->AddLog("HTTP://h> 1.2.3.4:5, Anonymous> " + std::string(200, 'y') + "\r");
  window->Log().Flush();
  const QString hint = window->Tray().Hint();
  EXPECT_TRUE(hint.contains("\rAction:  yyy"));
  EXPECT_EQ(hint.size(), TrayIcon::kMaxHintLength);
  window->StopServers();
}

}  // namespace
}  // namespace morlak::test_support
