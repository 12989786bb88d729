// Renders the desktop windows into PNG files on Qt's offscreen platform from a real run:
// the default site served on loopback, members and monitored files set up as a user would,
// and requests from a client, so every list, figure and log line is the program's own.
// Usage: morlak_screenshots OUTPUT_FOLDER [SUFFIX]
// A window of its own gets one line in kShots below.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/dialog_services.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "platform/files.h"
#include "platform/socket.h"
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
  // As "Modify Client" opens it on the first member.
  morlak::Thttpclienteditor& editor = window.ClientEditor();
  window.Core().Members().GetMember(0, editor.UserName, editor.Password, editor.HomeDirectory);
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

// One GET on a fresh loopback connection, as a browser sends it; the answer's session
// cookie is kept in `cookie` for the next request of the same visitor.
void Get(int port, const std::string& target, std::string& cookie) {
  const morlak::SocketHandle s = morlak::SocketCreateStream();
  if (s == morlak::kInvalidSocket) return;
  if (morlak::SocketConnect(s, "127.0.0.1", port)) {
    const std::string request = "GET " + target +
                                " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                                "\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64)\r\n" +
                                (cookie.empty() ? "" : "Cookie: " + cookie + "\r\n") + "\r\n";
    morlak::SocketSend(s, request.data(), request.size(), false);
    std::string answer;
    char buffer[16384];
    for (int64_t n; (n = morlak::SocketRecv(s, buffer, sizeof buffer)) > 0;)
      answer.append(buffer, static_cast<size_t>(n));
    const size_t at = answer.find("Set-Cookie: ");
    if (at != std::string::npos)
      cookie = answer.substr(at + 12, answer.find_first_of(";\r", at) - at - 12);
  }
  morlak::SocketClose(s);
}

// What a user sets up: members with a folder each, files to monitor, lists on the
// settings pages, aliases.
void SetUp(Tfmain& window) {
  morlak::ServerCore& core = window.Core();
  const std::string folder = core.ProgramFolder();
  std::filesystem::copy(morlak::ExecutableFolder() + "http", folder + "http",
                        std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(folder + "members/alice");
  morlak::WriteFileAtomic(folder + "members/alice/index.html",
                          "<html><body>Alice's page</body></html>");
  core.Members().AddMember("alice", "wonderland", folder + "members/alice/");
  core.Members().AddMember("bob", "builder", folder + "members/bob/");
  window.RefreshMemberList();
  for (const auto& [name, size] :
       {std::pair{"report.pdf", 48213}, {"setup.exe", 1874301}, {"photos.zip", 5120000}}) {
    morlak::WriteFileAtomic(folder + "http/public/files/" + name, std::string(size, 'x'));
    core.Monitored().AddMonitoredFile(name);
  }
  window.RefreshMonitoredFileList();
  morlak::SettingsValues values = core.Settings().Get();
  values.defaultFile = "index.html;index.htm;default.htm;";
  values.logExtensions = ".gif;.png;";
  values.banned = "192.0.2.7;198.51.100.23;";
  values.redirect = "/old.html=/index.html;/news=/files/;";
  core.Settings().Set(values);
  core.RootAliases().AddRootAlias("/music", folder + "music/");
  core.DomainAliases().AddDomainAlias("intranet", folder + "intranet/");
}

// Visitors on loopback: pages, downloads of monitored files, a member's login and a
// failed one, a missing file. The window serves the refills the downloads wait for.
void ServeVisitors(Tfmain& window) {
  const int port = window.Core().IdHTTPServer1.BoundPort();
  std::atomic<bool> done{false};
  std::thread visitors([&] {
    std::string anonymous, alice, mallory;
    Get(port, "/", anonymous);
    Get(port, "/files/readme.txt", anonymous);
    for (int i = 0; i < 3; ++i) Get(port, "/files/report.pdf", anonymous);
    Get(port, "/files/setup.exe", anonymous);
    Get(port, "/?action=login&user=alice&pass=wonderland", alice);
    Get(port, "/index.html", alice);
    Get(port, "/?action=logout", alice);
    Get(port, "/files/photos.zip", alice);
    Get(port, "/?action=login&user=bob&pass=guess", mallory);
    Get(port, "/favicon.ico", anonymous);
    Get(port, "/old.html", anonymous);
    done = true;
  });
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 20);
  visitors.join();
  // Log lines of other threads reach the window in batches a moment later.
  QElapsedTimer batches;
  batches.start();
  while (batches.elapsed() < 2 * morlak::QtFrontEnd::kLogBatchMs)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
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

  QTemporaryDir data(QDir::tempPath() + "/morlak-XXXXXX");
  // The settings dialog writes or removes the start-at-logon entry when it ends.
  qputenv("XDG_CONFIG_HOME", data.filePath("config").toLocal8Bit());
  morlak::CoreOptions options;
  options.programFolder = morlak::IncludeTrailingSeparator(data.path().toStdString());
  options.httpPort = 0;
  // A layout file, so the first-run message stays away.
  morlak::WriteFileAtomic(options.programFolder + morlak::WindowLayout::kFileName, "");
  int failures = 0;
  {
    Tfmain window(options, false);
    window.show();
    // The offscreen screen is small; the window keeps the size it would have on a desktop.
    window.resize(window.sizeHint().expandedTo(QSize(
        static_cast<int>(832 * morlak::RowListView::DesignScale(window.fontMetrics())), 304)));
    SetUp(window);
    window.StartServers();
    ServeVisitors(window);
    // The status bar shows the newest log line, not the hint of a control under the mouse.
    QLabel* message = window.findChild<QLabel*>("message");
    const QString newestLine = message->text();
    for (const Shot& shot : kShots) {
      QWidget* widget = shot.show(window);
      QApplication::processEvents();
      message->setText(newestLine);
      const QString path = out + "/" + shot.file + suffix + ".png";
      if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
