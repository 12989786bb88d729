// The main window's buttons that open the member editor, the settings dialog and the
// update dialog, and the end of the program after an import.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <chrono>
#include <thread>

#include "app/data_transfer.h"
#include "main_window_fixture.h"
#include "stores/storage_container.h"
#include "support/http_fetch.h"
#include "update_server/update_server.h"

namespace morlak::test_support {
namespace {

// Runs `work` inside the modal loop the next click opens.
void WhenShown(std::function<void()> work) {
  QTimer::singleShot(0, std::move(work));
}

void Type(QWidget& dialog, const char* box, const char* text) {
  dialog.findChild<QLineEdit*>(box)->setText(text);
}

void Press(QWidget& dialog, const char* button) {
  dialog.findChild<QPushButton*>(button)->click();
}

TEST_F(MainWindowTest, NewAndModifyClientGoThroughTheMemberEditor) {
  Open();
  Thttpclienteditor& editor = window->ClientEditor();
  editor.UserName = "left over";
  WhenShown([&] {
    EXPECT_EQ(editor.findChild<QLineEdit*>("username")->text(), "");
    Type(editor, "username", "dave");
    Type(editor, "password", "pw");
    Type(editor, "homedirectory", "/d/");
    Press(editor, "apply");
  });
  Click("New Client");
  EXPECT_EQ(LogLines().first(), "- new HTTP member added dave");
  EXPECT_EQ(List("member list").Model().Cell(0, 0), "dave");

  bool shown = true;
  WhenShown([&] {
    shown = editor.isVisible();
    if (shown) Press(editor, "cancel");
  });
  Click("Modify Client");  // no row selected: no editor
  QCoreApplication::processEvents();
  EXPECT_FALSE(shown);

  List("member list").SelectRow(0);
  WhenShown([&] {
    EXPECT_EQ(editor.findChild<QLineEdit*>("homedirectory")->text(), "/d/");
    Type(editor, "password", "new");
    Press(editor, "apply");
  });
  Click("Modify Client");
  EXPECT_EQ(LogLines().first(), "- HTTP member modified dave");
  std::string user, pass, home;
  ASSERT_TRUE(window->Core().Members().GetMember(0, user, pass, home));
  EXPECT_EQ(pass, "new");

  WhenShown([&] {
    Type(editor, "password", "cancelled");
    Press(editor, "cancel");
  });
  Click("Modify Client");
  ASSERT_TRUE(window->Core().Members().GetMember(0, user, pass, home));
  EXPECT_EQ(pass, "new");
}

TEST_F(MainWindowTest, SettingsAppliedThenTheLogFileFollows) {
  Open();
  Thttpsettings& settings = window->SettingsDialog();
  const std::string logFile = folder.File("other-log.txt");
  WhenShown([&] {
    Type(settings, "logfilename", logFile.c_str());
    Press(settings, "apply");
  });
  Click("Settings");
  EXPECT_EQ(window->Core().Settings().GetLogFileName(), logFile);
  EXPECT_EQ(window->Core().LogFile().Filename(), logFile);
}

TEST_F(MainWindowTest, ImportWhileAMonitoredDownloadWaitsForTheWindowSavesNothingAfterIt) {
  folder.Write("http/public/big.bin", std::string(100000, 'b'));
  CoreOptions options;
  options.programFolder = folder.Path();
  options.httpPort = 0;
  options.arguments = {"--http-port", "0", "--data-dir", "/elsewhere/", "--headless"};
  window = std::make_unique<Tfmain>(options, false);
  ServerCore& core = window->Core();
  core.Members().AddMember("unsaved", "x", "/x/");
  ASSERT_TRUE(core.Monitored().AddMonitoredFile("big.bin"));
  window->StartServers();
  std::thread download([port = core.IdHTTPServer1.BoundPort()] { Get(port, "/big.bin"); });
  // Counted: the download now waits for this (GUI) thread to refill the monitored list.
  const auto counted = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (core.Monitored().ListMonitoredFiles().lines.front().rfind("big.bin||1||", 0) != 0 &&
         std::chrono::steady_clock::now() < counted)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  const std::string monitored = "[big.bin]\r\ncount=7\r\n";
  TempFolder out;
  out.Write("in.webdata", StorageHeader() + StorageEntryBytes("httpspecialfiles.lst", monitored) +
                              StorageEntryBytes("httpmembers.lst", "[imported]\r\n"));
  std::vector<std::string> started;
  window->SettingsDialog().Transfer().SetProgramStarter(
      [&](const std::string&, const std::vector<std::string>& args, std::string*) {
        started = args;
        return 1;
      });
  chosenFile = QString::fromStdString(out.File("in.webdata"));
  QSignalSpy exit(window.get(), &Tfmain::ExitConfirmed);
  const auto begin = std::chrono::steady_clock::now();
  window->SettingsDialog().Transfer().Import(window.get());
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(4));
  download.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(exit.count(), 1);
  EXPECT_EQ(started, (std::vector<std::string>{"--http-port", "0", "--headless", "--data-dir",
                                               folder.Path()}));
  window.reset();
  EXPECT_EQ(folder.Read("httpspecialfiles.lst"), monitored);
  EXPECT_EQ(folder.Read("httpmembers.lst"), "[imported]\r\n");
}

TEST_F(MainWindowTest, CheckForUpdateAsksTheHostInTheBoxAndABadBuildReachesTheStatusBar) {
  UpdateServerOptions options;
  options.folder = folder.MakeFolder("published");
  folder.Write("published/build.txt", "12");
  options.bindIp = "127.0.0.1";
  options.port = 0;
  options.buildLine = "b12";
  UpdateServer server(options);
  server.Start();
  Open();
  window->findChild<QLineEdit*>("update host")->setText("127.0.0.1");
  Tfupdate& dialog = window->UpdateDialog();
  dialog.setPort(server.Port());
  QObject::connect(&dialog, &Tfupdate::checkFinished, &dialog, &QDialog::accept);
  Click("Check for Update");  // returns when the finished check closed the dialog
  EXPECT_EQ(dialog.host(), "127.0.0.1");
  EXPECT_EQ(Label("message"), "Exception: 'b12' is not a valid integer value");
}

}  // namespace
}  // namespace morlak::test_support
