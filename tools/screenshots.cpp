// Renders the desktop windows into PNG files on Qt's offscreen platform, with a running
// server and some members, active users, monitored files and log lines to show.
// Usage: morlak_screenshots OUTPUT_FOLDER [SUFFIX]
// A window of its own gets one line in kShots below.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <functional>

#include "app/dialog_services.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "server/update_check.h"
#include "server/version.h"
#include "update_server/update_server.h"

namespace {

using morlak::Tfmain;

// Shows the main window on one tab.
std::function<QWidget*(Tfmain&)> MainTab(int tab) {
  return [tab](Tfmain& window) -> QWidget* {
    window.findChild<QTabWidget*>()->setCurrentIndex(tab);
    return &window;
  };
}

// Shows the settings dialog on one page.
std::function<QWidget*(Tfmain&)> SettingsPage(int page) {
  return [page](Tfmain& window) -> QWidget* {
    morlak::Thttpsettings& dialog = window.SettingsDialog();
    if (!dialog.isVisible()) dialog.show();
    dialog.Tabs()->setCurrentIndex(page);
    return &dialog;
  };
}

QWidget* MemberEditor(Tfmain& window) {
  window.SettingsDialog().hide();
  morlak::Thttpclienteditor& editor = window.ClientEditor();
  editor.UserName = "alice";
  editor.Password = "wonderland";
  editor.HomeDirectory = "/home/alice/public/";
  editor.show();
  return &editor;
}

// Saves every download into one file.
class SaveTo : public morlak::FileChooser {
 public:
  QString path;
  QString OpenFile(QWidget*, const QString&, const QString&) override { return {}; }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override {
    return path;
  }
  QString Folder(QWidget*, const QString&, const QString&) override { return {}; }
};

// The update dialog after a newer build was downloaded from an update server on loopback
// (port 4995 when it is free).
QWidget* UpdateDialogAfterDownload(Tfmain& window) {
  window.ClientEditor().hide();
  static QTemporaryDir folder;
  static SaveTo chooser;
  chooser.path = folder.filePath(morlak::kInstallerFileName);
  const std::string published =
      morlak::IncludeTrailingSeparator(folder.filePath("published").toStdString());
  QDir().mkpath(QString::fromStdString(published));
  morlak::WriteFileAtomic(published + "build.txt", std::to_string(morlak::kBuildNumber + 1));
  morlak::WriteFileAtomic(published + "message.txt", "Build 2 is out\r\n");
  morlak::WriteFileAtomic(published + morlak::kInstallerFileName, std::string(1234567, 'M'));
  static std::unique_ptr<morlak::UpdateServer> server;
  for (int port : {morlak::kUpdatePort, 0}) {
    morlak::UpdateServerOptions options;
    options.folder = published;
    options.bindIp = "127.0.0.1";
    options.port = port;
    try {
      server = std::make_unique<morlak::UpdateServer>(options);
      server->Start();
      break;
    } catch (const std::exception&) {
      server.reset();
    }
  }
  auto* dialog = new morlak::Tfupdate(&window, &chooser);
  dialog->setHost(window.UpdateHost());
  if (server) dialog->setPort(server->Port());
  QEventLoop checked;
  QObject::connect(dialog, &morlak::Tfupdate::checkFinished, &checked, &QEventLoop::quit);
  QTimer::singleShot(20000, &checked, &QEventLoop::quit);
  dialog->show();
  checked.exec();
  return dialog;
}

// Thirty days of traffic in the statistics files, as a month of a small site leaves them:
// busier on working days, growing over the month, nothing at night.
void WriteTrafficHistory(const std::string& folder) {
  const double today = std::floor(morlak::Now());
  std::string bytes, connections;
  for (int ago = 29; ago >= 0; --ago) {
    const double day = today - ago;
    const int weekday = morlak::DecodeDateTime(day).dayOfWeek;
    const double busy = (weekday == 0 || weekday == 6 ? 0.45 : 1.0) * (1.0 + (29 - ago) / 40.0);
    for (int tenth = 3; tenth <= 9; ++tenth) {
      const std::string key = morlak::FormatFixed(day + tenth / 10.0, 1) + "=";
      const double hour = 1.0 + ((tenth * 7 + ago * 3) % 5) / 4.0;
      bytes += key + std::to_string(static_cast<int64_t>(busy * hour * 2.6e6)) + "\r\n";
      connections += key + std::to_string(static_cast<int>(busy * hour * 38)) + "\r\n";
    }
  }
  morlak::WriteFileAtomic(folder + "statlist.lst", "");
  morlak::WriteFileAtomic(folder + "statagents.lst", "");
  morlak::WriteFileAtomic(folder + "statbytes.lst", bytes);
  morlak::WriteFileAtomic(folder + "statconnections.lst", connections);
}

struct Shot {
  const char* file;
  std::function<QWidget*(Tfmain&)> show;  // the widget to grab, ready to be drawn
};

const Shot kShots[] = {
    {"main_system_log", MainTab(Tfmain::kLogTab)},
    {"main_http_server", MainTab(Tfmain::kServerTab)},
    {"main_active_users", MainTab(Tfmain::kActiveTab)},
    {"main_file_monitoring", MainTab(Tfmain::kMonitorTab)},
    {"main_about", MainTab(Tfmain::kAboutTab)},
    {"settings_general", SettingsPage(0)},
    {"settings_log", SettingsPage(1)},
    {"settings_files_and_folders", SettingsPage(2)},
    {"settings_mime_list", SettingsPage(3)},
    {"settings_php", SettingsPage(4)},
    {"settings_cgi_and_isapi", SettingsPage(5)},
    {"settings_redirect", SettingsPage(6)},
    {"settings_banned_list", SettingsPage(7)},
    {"settings_root_aliases", SettingsPage(8)},
    {"settings_domain_aliases", SettingsPage(9)},
    {"settings_security", SettingsPage(10)},
    {"settings_export_inport", SettingsPage(11)},
    {"member_editor", MemberEditor},
    {"update_dialog", UpdateDialogAfterDownload},
};

void FillExample(Tfmain& window) {
  morlak::ServerCore& core = window.Core();
  core.Members().AddMember("alice", "wonderland", "/home/alice/public/");
  core.Members().AddMember("bob", "builder", "/home/bob/www/");
  core.Members().AddMember("carol", "s3cret", "/srv/carol/");
  core.Members().MemberLogin("192.168.1.20", "alice", "wonderland", "/index.html");
  window.RefreshMemberList();
  core.Members().TouchActiveUser("F2D1A0C4B7E95A31", "192.168.1.20", "alice", "wonderland",
                                 "/index.html");
  core.Members().TouchActiveUser("09AB44E1C3D2F870", "192.168.1.31", "", "", "/files/report.pdf");
  core.Members().TouchActiveUser("7C15E9D03B2A6F48", "127.0.0.1", "", "", "/");
  for (const char* name : {"report.pdf", "setup.exe", "photos.zip"})
    core.Monitored().AddMonitoredFile(name);
  for (int i = 0; i < 7; ++i) core.Monitored().CountMonitoredHit("report.pdf", "192.168.1.31");
  for (int i = 0; i < 3; ++i) core.Monitored().CountMonitoredHit("setup.exe", "192.168.1.44");
  window.RefreshMonitoredFileList();
  morlak::SettingsValues values = core.Settings().Get();
  values.homeDirectory = "/srv/morlak/http/public/";
  values.templateDirectory = "/srv/morlak/http/templates";
  values.logFileName = "/srv/morlak/weblog.txt";
  values.defaultFile = "index.html;index.htm;default.htm;";
  values.logExtensions = ".gif;.png;";
  values.banned = "192.0.2.7;198.51.100.23;";
  values.redirect = "/old.html=/new.html;/news=/blog/;";
  core.Settings().Set(values);
  core.RootAliases().AddRootAlias("/music", "/srv/music/");
  core.RootAliases().AddRootAlias("/photos", "/home/alice/Pictures/");
  core.DomainAliases().AddDomainAlias("intranet", "/srv/intranet/");
  core.Stats().AddConnections(42);
  core.Stats().AddSessions(9);
  core.Stats().AddPagesDownloaded(31);
  core.Stats().AddBytesDownloaded(3456789);
  core.ClientCount = 3;
  core.ServerStartTime = morlak::Now() - 2.5 / 24;  // up for two and a half hours
  for (const char* line :
       {"http://localhost> 127.0.0.1:50412, Anonymous> served /index.html (1024b, text/html)",
        "http://192.168.1.10> 192.168.1.20:50433, alice> login succesfull",
        "https://192.168.1.10> 192.168.1.31:50470, Anonymous> served /files/report.pdf "
        "(48213b, application/pdf)",
        "http://localhost> 127.0.0.1:50501, Anonymous> file not found /favicon.ico"})
    core.LogWindowAndFile(line);
  window.Log().Flush();
  window.Timer1Timer();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Morlak");
  if (argc < 2) {
    std::fprintf(stderr, "usage: morlak_screenshots OUTPUT_FOLDER [SUFFIX]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  QDir().mkpath(out);
  morlak::SetMessageBoxAnswers({[](morlak::MessageKind, const QString&) { return true; },
                                [](const QString&) { return QString(); }});

  QTemporaryDir data;
  // The settings dialog writes or removes the start-at-logon entry when it ends.
  qputenv("XDG_CONFIG_HOME", data.filePath("config").toLocal8Bit());
  morlak::CoreOptions options;
  options.programFolder = morlak::IncludeTrailingSeparator(data.path().toStdString());
  options.httpPort = 0;
  // A layout file, so the first-run message stays away.
  morlak::WriteFileAtomic(options.programFolder + morlak::WindowLayout::kFileName, "");
  WriteTrafficHistory(options.programFolder);
  int failures = 0;
  {
    Tfmain window(options, true);
    window.show();
    // The offscreen screen is small; the window keeps the size it would have on a desktop.
    window.resize(window.sizeHint().expandedTo(QSize(
        static_cast<int>(832 * morlak::RowListView::DesignScale(window.fontMetrics())), 304)));
    FillExample(window);
    for (const Shot& shot : kShots) {
      QWidget* widget = shot.show(window);
      QApplication::processEvents();
      // The status bar shows the newest log line, not the hint of a hovered button.
      window.AddLog("- HTTP member file loaded");
      window.Log().Flush();
      const QString path = out + "/" + shot.file + suffix + ".png";
      if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
