// The main window, class Tfmain: five tabs along the bottom (the system log, the member
// list, the active users, the monitored files, the About page with the running figures),
// a three-panel status bar, the tray icon and the 2000 ms timer. It owns the server core
// and starts, stops and ends it in the program's start-up and exit order.
//
// Dialogs wire in through the public members: Core() reaches every store and the
// listeners, the refill methods redraw the lists after a store changed, and
// ApplyLogFileSettings is what the window does after its settings dialog closes.
// Widgets carry their caption as object name, so tests find them with findChild.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "app/log_view.h"
#include "app/member_editor.h"
#include "app/qt_front_end.h"
#include "app/row_list_view.h"
#include "app/settings_dialog.h"
#include "app/tray_icon.h"
#include "app/update_dialog.h"
#include "app/window_layout.h"
#include "server/server_core.h"

namespace morlak {

class Tfmain : public QMainWindow {
  Q_OBJECT

 public:
  enum Tab { kLogTab, kServerTab, kActiveTab, kMonitorTab, kAboutTab };

  // Creates the core and runs the start-up: stores, branding, layout, settings, and the
  // listeners when `startListeners` says so (default: the "startonstartup" setting).
  explicit Tfmain(CoreOptions options, std::optional<bool> startListeners = std::nullopt);
  // Stops the listeners, saves the stores (unless an import froze them) and the layout.
  ~Tfmain() override;

  ServerCore& Core() { return *core_; }
  QtFrontEnd& Front() { return *front_; }
  // The member editor and the settings dialog, made once after the window, as at start-up.
  Thttpclienteditor& ClientEditor() { return *clientEditor_; }
  Thttpsettings& SettingsDialog() { return *settings_; }
  Tfupdate& UpdateDialog() { return *update_; }

  // Start each enabled listener that is stopped / stop each running one. Stopping keeps
  // serving the connection threads' synchronised calls while it waits for them.
  void StartServers();
  void StopServers();
  // After a data import: close without asking, without saving the stores.
  void EndAfterImport();

  // GUI thread. The log window (with the status bar and the tray hint).
  void AddLog(const std::string& text);
  // GUI thread. An error message box.
  void ShowMessage(const std::string& text);
  // GUI thread. Refill the lists from their stores.
  void RefreshMemberList();
  void RefreshMonitoredFileList();
  // The log file takes the "logfilename" and "logtofilelines" settings (on every
  // activation, and after the settings dialog closes).
  void ApplyLogFileSettings();
  // The text of the update-host box on the About page ("localhost" by default).
  QString UpdateHost() const;
  // "Exception: " + message in the status bar; for errors no handler caught.
  void ShowException(const QString& message);

  // The timer's work, every 2000 ms: run state, clients, tray image, figures, active users.
  void Timer1Timer();
  bool ListenersActive() const;
  TrayIcon& Tray() { return tray_; }
  LogView& Log() { return *logView_; }
  WindowLayout CurrentLayout() const;

 signals:
  // The user confirmed the exit; the program's loop should end.
  void ExitConfirmed();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormCloseQuery
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private slots:
  void ClearLogClick();
  // Open the member editor; on Apply the member is added or changed.
  void NewClientClick();
  void ModifyClientClick();
  void DeleteClientClick();
  // Opens the settings dialog, then ApplyLogFileSettings.
  void SettingsClick();
  void NewFileClick();
  void DeleteFileClick();
  void ResetFileClick();
  // Hands UpdateHost() to the update dialog and shows it modally.
  void CheckForUpdateClick();
  void BrowseClick();
  // Opens the user guide (UserGuide()) in the desktop's browser.
  void UserGuideClick();
  void MemberSectionClick(int column);
  void MonitorSectionClick(int column);
  void RestoreFromTray();
  void ShowLogLine(const QString& rest, const QString& date, const QString& time);

 private:
  QWidget* BuildLogTab();
  QWidget* BuildServerTab();
  QWidget* BuildActiveTab();
  QWidget* BuildMonitorTab();
  QWidget* BuildAboutTab();
  void BuildStatusBar();
  QPushButton* AddButton(QLayout* column, const QString& caption, const QString& hint);

  std::string UserGuide() const;
  void FormCreate(std::optional<bool> startListeners);
  void FormActivate();
  void ApplyBranding();
  void RestoreLayout(const WindowLayout& layout);
  void MinimizeToTray();
  void SetRunState(bool running);
  void RefreshActiveUserList();
  // The selected monitored file's name, or "" without a selected row.
  std::string SelectedMonitoredFile() const;

  // The adapter outlives the core, whose threads call it until the listeners are down.
  std::unique_ptr<QtFrontEnd> front_;
  std::unique_ptr<ServerCore> core_;
  std::unique_ptr<Thttpclienteditor> clientEditor_;
  // Destroyed before the core saves at exit: it keeps its geometry and the start-at-logon
  // entry.
  std::unique_ptr<Thttpsettings> settings_;
  std::unique_ptr<Tfupdate> update_;

  QTabWidget* tabs_ = nullptr;
  LogView* logView_ = nullptr;
  RowListView* memberList_ = nullptr;
  RowListView* activeList_ = nullptr;
  RowListView* monitorList_ = nullptr;
  QLabel* figures_[6] = {};
  QLabel* versionLabel_ = nullptr;
  QLabel* dateLabel_ = nullptr;
  QLabel* companyLabel_ = nullptr;
  QLabel* authorLabel_ = nullptr;
  QLabel* decorativePicture_ = nullptr;
  QLabel* brandPicture_ = nullptr;
  QLineEdit* updateHost_ = nullptr;
  QPushButton* checkForUpdate_ = nullptr;
  QLabel* runState_ = nullptr;
  QLabel* clientPanel_ = nullptr;
  QLabel* messagePanel_ = nullptr;
  TrayIcon tray_;
  QTimer timer1_;

  bool firstRun_ = false;
  bool activatedOnce_ = false;
  bool endingAfterImport_ = false;
  bool runningCache_ = false;
  bool activeUsersStale_ = false;  // the store changed while the list was hidden  // listener state
                                   // seen while a stop is under way
};

}  // namespace morlak
