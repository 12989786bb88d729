// The main window's buttons that open the member editor, the settings dialog and the
// update dialog, and the end of the program after an import.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>

#include "app/data_transfer.h"
#include "main_window_fixture.h"
#include "stores/storage_container.h"
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

TEST_F(MainWindowTest, ImportEndsTheWindowWithoutSavingTheStores) {
  Open();
  window->Core().Members().AddMember("unsaved", "x", "/x/");
  TempFolder out;
  out.Write("in.webdata", StorageHeader() + StorageEntryBytes("httpmembers.lst", "[imported]\r\n"));
  std::vector<std::string> started;
  window->SettingsDialog().Transfer().SetProgramStarter(
      [&](const std::string&, const std::vector<std::string>& args, std::string*) {
        started = args;
        return 1;
      });
  chosenFile = QString::fromStdString(out.File("in.webdata"));
  QSignalSpy exit(window.get(), &Tfmain::ExitConfirmed);
  window->SettingsDialog().Transfer().Import(window.get());
  QCoreApplication::processEvents();
  EXPECT_EQ(exit.count(), 1);
  EXPECT_EQ(started, (std::vector<std::string>{"--data-dir", folder.Path()}));
  window.reset();
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
