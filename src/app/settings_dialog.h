// The settings dialog (Thttpsettings): twelve pages that edit every server setting, the
// content-type table and the alias tables, and the data export and import. It is made
// once at start and lives until exit; the settings themselves are loaded (and saved at
// exit) by ServerCore::Startup and ServerCore::Shutdown. Each show fills the pages from the
// store. Its destruction, before ServerCore::Shutdown, keeps the dialog's geometry in the
// store and writes or removes the start-at-logon entry.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "app/settings/settings_page.h"

class QTabWidget;

namespace morlak {

class AliasesPage;
class DataTransfer;
class QtFileChooser;
class QtPrompts;

class Thttpsettings : public QDialog {
  Q_OBJECT
 public:
  // `files` and `prompts` replace the desktop's dialogs and message boxes (tests).
  explicit Thttpsettings(ServerCore& core, QWidget* parent = nullptr, FileChooser* files = nullptr,
                         DataTransferPrompts* prompts = nullptr);
  ~Thttpsettings() override;

  QTabWidget* Tabs() const { return tabs_; }
  DataTransfer& Transfer() const { return *transfer_; }

  // Copies every control into the settings, saves the settings and both alias tables and
  // closes; a page whose values cannot be taken is reported and nothing changes.
  void Apply();

 signals:
  // An import has put new data files in place and started a new instance: the main window
  // must now end this one, whose data files are frozen.
  void RestartRequired();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void LoadPages();
  void RestoreGeometry();
  void KeepGeometry();
  void UpdateStartAtLogon();

  ServerCore& core_;
  std::unique_ptr<QtFileChooser> ownFiles_;
  std::unique_ptr<QtPrompts> ownPrompts_;
  PageContext context_;
  QTabWidget* tabs_;
  std::vector<SettingsPage*> pages_;
  AliasesPage* rootAliases_;
  AliasesPage* domainAliases_;
  DataTransfer* transfer_;
  bool geometryShown_ = false;
};

}  // namespace morlak
