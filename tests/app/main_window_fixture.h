// A main window over a data folder of its own, with message boxes answered by the test
// and the listeners stopped unless a test starts them (on a free loopback port).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QStringList>
#include <memory>
#include <optional>

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "platform/datetime.h"
#include "support/temp_folder.h"

namespace morlak::test_support {

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxAnswers({[this](MessageKind, const QString& text) {
                            messages.append(text);
                            return answerYes;
                          },
                          [this](const QString&) { return chosenFile; }});
  }
  void TearDown() override {
    window.reset();
    SetMessageBoxAnswers({});
    SetFixedNow(std::nullopt);
  }

  Tfmain& Open() {
    CoreOptions options;
    options.programFolder = folder.Path();
    options.httpPort = 0;
    window = std::make_unique<Tfmain>(options, false);
    return *window;
  }
  void Click(const char* caption) { window->findChild<QPushButton*>(caption)->click(); }
  QString Label(const char* name) { return window->findChild<QLabel*>(name)->text(); }
  RowListView& List(const char* name) { return *window->findChild<RowListView*>(name); }

  // The log window's lines, newest first, without their time stamps.
  QStringList LogLines() {
    QCoreApplication::processEvents();  // lines queued by other threads
    window->Log().Flush();
    QStringList lines;
    for (int row = 0; row < window->Log().LineCount(); ++row)
      lines.append(window->Log().LineText(row).section(u' ', 2));
    return lines;
  }

  TempFolder folder;
  std::unique_ptr<Tfmain> window;
  QStringList messages;
  bool answerYes = true;
  QString chosenFile;
};

}  // namespace morlak::test_support
