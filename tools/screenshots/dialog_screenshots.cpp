// Saves a picture of every page of the settings dialog and of the member editor, drawn on
// the offscreen platform over a throw-away data folder with a few sample rows:
//   dialog_screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "app/member_editor.h"
#include "app/settings_dialog.h"
#include "server/server_core.h"

namespace {

class SilentFrontEnd : public morlak::FrontEnd {
 public:
  void Synchronize(const std::function<void()>& work) override { work(); }
  void AddLog(const std::string&) override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  void RefreshMemberList() override {}
  void RefreshMonitoredFileList() override {}
};

bool Save(QWidget& widget, const QString& path) {
  QApplication::processEvents();
  if (widget.grab().save(path)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

// "Files and Folders" becomes files-and-folders.
QString FileNamePart(QString title) {
  title = title.toLower();
  for (QChar& c : title)
    if (!c.isLetterOrNumber()) c = '-';
  return title;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir data;
  qputenv("XDG_CONFIG_HOME", data.filePath("config").toLocal8Bit());  // no real autostart entry

  SilentFrontEnd front;
  morlak::CoreOptions options;
  options.programFolder = (data.path() + "/").toStdString();
  morlak::ServerCore core(front, options);
  core.Startup(false);
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
  core.RootAliases().AddRootAlias("/photos", "/home/me/Pictures/");
  core.DomainAliases().AddDomainAlias("intranet", "/srv/intranet/");

  int failures = 0;
  {
    morlak::Thttpsettings settings(core);
    settings.show();
    QTabWidget* tabs = settings.Tabs();
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      const QString name = QString("settings-%1-%2.png")
                               .arg(i + 1, 2, 10, QChar('0'))
                               .arg(FileNamePart(tabs->tabText(i)));
      failures += !Save(settings, out + "/" + name);
    }
    settings.reject();
  }
  morlak::Thttpclienteditor editor;
  editor.UserName = "ann";
  editor.Password = "secret";
  editor.HomeDirectory = "/srv/members/ann/";
  editor.show();
  failures += !Save(editor, out + "/member-editor.png");
  return failures == 0 ? 0 : 1;
}
