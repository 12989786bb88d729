#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QScreen>
#include <QTabWidget>

#include "main_window_fixture.h"
#include "platform/files.h"
#include "stores/statistics.h"
#include "stores/storage_file.h"

namespace morlak::test_support {
namespace {

TEST_F(MainWindowTest, AboutFiguresFollowTheByteRules) {
  Open();
  Statistics& stats = window->Core().Stats();
  struct Case {
    std::vector<int64_t> added;
    const char* downloaded;
  } cases[] = {
      {{131071}, "131071b"},
      {{131072}, "128.00k"},
      {{5242880}, "5.00M"},
      // Each addition past a giga moves one giga out of the byte counter.
      {{Statistics::kBytesPerGiga + 1, Statistics::kBytesPerGiga, Statistics::kBytesPerGiga, 999},
       "1000b (3G)"},
  };
  for (const Case& c : cases) {
    stats.ResetStatistics();
    for (int64_t n : c.added) stats.AddBytesDownloaded(n);
    window->Timer1Timer();
    EXPECT_EQ(Label("Downloaded:"), c.downloaded);
  }

  // One hour up: the rate switches to M/h at 524880 bytes, not at 524288.
  const TDateTime now = EncodeDateTime(2024, 5, 1, 12);
  SetFixedNow(now);
  window->Core().ServerStartTime = now - 1.0 / 24;
  struct Rate {
    int64_t bytes;
    const char* average;
  } rates[] = {{131071, "131071.0b/h"}, {524879, "512.6k/h"}, {524880, "0.5M/h"}};
  for (const Rate& r : rates) {
    stats.ResetStatistics();
    stats.AddBytesDownloaded(r.bytes);
    window->Timer1Timer();
    EXPECT_EQ(Label("Average:"), r.average);
    EXPECT_EQ(Label("Online:"), "1.00 hours");
  }
  window->Core().ServerStartTime = 0;
  window->Timer1Timer();
  EXPECT_EQ(Label("Online:"), "Stopped");
}

TEST_F(MainWindowTest, TrayImageAlternatesWhileRunningWithoutClients) {
  Open();
  window->Timer1Timer();
  EXPECT_EQ(window->Tray().ImageIndex(), TrayIcon::kStopped);
  EXPECT_EQ(Label("run state"), "HTTP Stopped");

  window->StartServers();
  ASSERT_TRUE(window->ListenersActive());
  std::vector<int> images;
  for (int i = 0; i < 4; ++i) {
    window->Timer1Timer();
    images.push_back(window->Tray().ImageIndex());
  }
  EXPECT_EQ(images, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(Label("run state"), "HTTP Running");
  EXPECT_EQ(Label("clients"), "No clients");

  window->Core().ClientCount = 2;
  window->Timer1Timer();
  EXPECT_EQ(window->Tray().ImageIndex(), TrayIcon::kWithClients);
  EXPECT_EQ(Label("clients"), "2 clients");

  window->StopServers();
  window->Timer1Timer();
  EXPECT_EQ(window->Tray().ImageIndex(), TrayIcon::kStopped);
  EXPECT_EQ(Label("run state"), "HTTP Stopped");
  EXPECT_TRUE(LogLines().contains("- HTTP server stopped"));
}

TEST_F(MainWindowTest, MemberButtonsAndHeadersChangeTheStore) {
  Open();
  MembersStore& members = window->Core().Members();
  members.AddMember("carol", "c", "/c/");
  members.AddMember("alice", "a", "/a/");
  members.AddMember("bob", "b", "/b/");
  window->RefreshMemberList();

  Click("Delete Client");  // no row selected: nothing happens
  EXPECT_EQ(members.ListMembers().Count(), 3u);

  window->findChild<RowListView*>("member list")->header()->sectionClicked(0);
  EXPECT_EQ(List("member list").Model().Cell(0, 0), "alice");

  List("member list").SelectRow(1);
  Click("Delete Client");
  EXPECT_EQ(LogLines().first(), "- HTTP member deleted bob");
  ASSERT_EQ(List("member list").Model().rowCount(), 2);
  EXPECT_EQ(List("member list").Model().Cell(1, 0), "carol");
  EXPECT_EQ(members.ListMembers().Count(), 2u);
}

TEST_F(MainWindowTest, MonitoredFileButtonsChangeTheStoreAndItsFile) {
  Open();
  MonitoredFiles& monitored = window->Core().Monitored();
  const QStringList before = LogLines();

  chosenFile = "";  // cancelled dialog
  Click("New File");
  Click("Delete File");  // no row selected
  Click("Reset");
  EXPECT_EQ(LogLines(), before);

  chosenFile = "/somewhere/else/report.pdf";
  Click("New File");
  EXPECT_EQ(LogLines().first(), "- new file to monitor added (report.pdf)");
  Click("New File");
  EXPECT_EQ(LogLines().first(), "- failed to add new file to monitor (report.pdf)");
  EXPECT_NE(folder.Read(MonitoredFiles::kFileName).find("report.pdf"), std::string::npos);

  monitored.CountMonitoredHit("report.pdf", "10.0.0.1");
  window->RefreshMonitoredFileList();
  List("monitored-file list").SelectRow(0);
  Click("Reset");
  EXPECT_EQ(LogLines().first(), "- Monitored file report.pdf reseted");
  int32_t count = -1;
  ASSERT_TRUE(monitored.GetMonitoredCount("report.pdf", count));
  EXPECT_EQ(count, 0);

  List("monitored-file list").SelectRow(0);
  Click("Delete File");
  EXPECT_EQ(LogLines().first(), "- file report.pdf removed from monitoring list");
  EXPECT_FALSE(monitored.GetMonitoredCount("report.pdf", count));
  EXPECT_EQ(List("monitored-file list").Model().rowCount(), 0);
}

TEST_F(MainWindowTest, LayoutFileIsReadOverTheDesignAndWrittenInFull) {
  // No "activetab" section; damaged numbers elsewhere.
  folder.Write(WindowLayout::kFileName,
               "[mainsettings]\r\ntop=123456789\r\nleft=-99999999\r\nwidth=-5\r\n"
               "height=99999999\r\ntabindex=3\r\n[servertab]\r\nsection0=120\r\nsection1=x\r\n"
               "section2=-7\r\n[monitortab]\r\nsection5=77\r\n");
  Open();
  const std::vector<int> memberWidths = List("member list").ColumnWidths();
  const std::vector<int>& memberDesign = List("member list").DesignWidths();
  EXPECT_EQ(memberWidths[0], 120);
  EXPECT_EQ(memberWidths[1], memberDesign[1]);  // not a number
  EXPECT_EQ(memberWidths[2], memberDesign[2]);  // negative
  EXPECT_EQ(List("active-user list").ColumnWidths(), List("active-user list").DesignWidths());
  EXPECT_EQ(List("monitored-file list").ColumnWidths()[5], 77);
  EXPECT_EQ(window->findChild<QTabWidget*>()->currentIndex(), Tfmain::kMonitorTab);

  // A sane size on a visible screen.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_GE(window->width(), 200);
  EXPECT_LE(window->height(), screen.height());
  EXPECT_TRUE(screen.intersects(QRect(window->pos(), window->size())));
  EXPECT_TRUE(messages.isEmpty());  // no first-run message with a layout file

  window.reset();
  const std::string written = folder.Read(WindowLayout::kFileName);
  EXPECT_NE(written.find("[activetab]\r\nsection0="), std::string::npos);
  EXPECT_NE(written.find("tabindex=3\r\n"), std::string::npos);
  EXPECT_NE(written.find("section0=120\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, FirstRunMessageOnceAndExitConfirmation) {
  Open();
  window->show();
  for (int i = 0; i < 2; ++i) {
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
  }
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith("When starting up the morlak for the first time,\r\n"));
  // No guide beside the test program: the message names where it belongs, and the About
  // tab's button says it is missing instead of opening nothing.
  const QString guide = QString::fromStdString(ExecutableFolder()) + "guide/index.html";
  EXPECT_TRUE(messages[0].contains("\r\n" + guide + "\r\n")) << messages[0].toStdString();
  Click("User Guide");
  EXPECT_EQ(messages.last(), "Failed to open the user guide " + guide + ".");

  // "nocloseconfirmation" is on by default; with it off the user is asked.
  SettingsValues values = window->Core().Settings().Get();
  values.noCloseConfirmation = false;
  window->Core().Settings().Set(values);
  answerYes = false;
  EXPECT_FALSE(window->close());
  EXPECT_EQ(messages.last(), "Are you sure to exit Morlak?");
  answerYes = true;
  EXPECT_TRUE(window->close());
}

TEST_F(MainWindowTest, BrandingFillsTheCaptionsAndSkipsABrokenPicture) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  QImage(24, 16, QImage::Format_RGB32).save(&buffer, "PNG");
  struct Case {
    QByteArray picture;
    bool shown;
  } cases[] = {{"<svg but not really", false}, {png, true}};
  for (const Case& c : cases) {
    folder.Write("parts/data.0",
                 "homepage=updates.example.org\r\ncompany=Acme\r\nauthor=Jo Doe\r\n"
                 "ftpserver=Acme Web\r\n");
    folder.Write("parts/data.1", c.picture.toStdString());
    TOzm_StorageFile container;
    container.SetFilename(folder.File("custom.config"));
    ASSERT_TRUE(container.SaveFiles({folder.File("parts/data.0"), folder.File("parts/data.1")}));
    Open();
    EXPECT_EQ(Label("company"), "Acme");
    EXPECT_EQ(Label("author"), "Jo Doe");
    EXPECT_EQ(window->windowTitle(), "Acme Web");
    EXPECT_EQ(window->UpdateHost(), "updates.example.org");
    EXPECT_TRUE(window->findChild<QPushButton*>("Check for Update")->isHidden());
    EXPECT_EQ(!window->findChild<QLabel*>("branding picture")->isHidden(), c.shown);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    window.reset();
  }
  QGuiApplication::setApplicationDisplayName("Morlak");
}

}  // namespace
}  // namespace morlak::test_support
