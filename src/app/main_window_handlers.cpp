// Tfmain's buttons, list headers, log lines and the 2000 ms timer.
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <cmath>

#include "app/main_window.h"
#include "app/message_boxes.h"
#include "platform/files.h"
#include "platform/program_folder.h"
#include "server/figures.h"

namespace morlak {

namespace {

const QColor kLightGreen(144, 238, 144);
const QColor kLightRed(255, 160, 160);

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void Tfmain::AddLog(const std::string& text) {
  logView_->AddLog(text);
}

void Tfmain::ShowLogLine(const QString& rest, const QString& date, const QString& time) {
  messagePanel_->setText(LogView::Printable(rest));
  QString hint = "WEB Server Running\rTime: " + date + " " + time;
  if (ListenersActive()) {
    QString action = rest;
    if (action.size() > 1 && action.endsWith(u'\r')) action.chop(1);
    hint += "\rAction: " + action;
  }
  tray_.SetHint(hint);
}

void Tfmain::RefreshMemberList() {
  memberList_->SetRows(core_->Members().ListMembers());
}

void Tfmain::RefreshActiveUserList() {
  activeUsersStale_ = false;
  activeList_->SetRows(core_->Members().ListActiveUsers());
}

void Tfmain::RefreshMonitoredFileList() {
  monitorList_->SetRows(core_->Monitored().ListMonitoredFiles());
}

QString Tfmain::UpdateHost() const {
  return updateHost_->text();
}

void Tfmain::ClearLogClick() {
  logView_->Clear();
}

void Tfmain::NewClientClick() {
  Thttpclienteditor& editor = *clientEditor_;
  editor.UserName.clear();
  editor.Password.clear();
  editor.HomeDirectory.clear();
  editor.exec();
  if (!editor.Applied) return;
  if (core_->Members().AddMember(editor.UserName, editor.Password, editor.HomeDirectory)) {
    AddLog("- new HTTP member added " + editor.UserName);
    RefreshMemberList();
  } else {
    AddLog("- failed to add new HTTP member " + editor.UserName);
  }
}

void Tfmain::ModifyClientClick() {
  const int row = memberList_->SelectedRow();
  if (row < 0) return;
  Thttpclienteditor& editor = *clientEditor_;
  if (!core_->Members().GetMember(row, editor.UserName, editor.Password, editor.HomeDirectory)) {
    AddLog("- failed to locate HTTP member selected");
    return;
  }
  editor.exec();
  if (!editor.Applied) return;
  if (core_->Members().ModifyMember(row, editor.UserName, editor.Password, editor.HomeDirectory)) {
    AddLog("- HTTP member modified " + editor.UserName);
    RefreshMemberList();
  } else {
    AddLog("- failed to modify HTTP member " + editor.UserName);
  }
}

void Tfmain::DeleteClientClick() {
  const int row = memberList_->SelectedRow();
  if (row < 0) return;
  std::string user, pass, home;
  if (!core_->Members().GetMember(row, user, pass, home)) {
    AddLog("- failed to locate HTTP member selected");
    return;
  }
  if (core_->Members().DeleteMember(row)) {
    AddLog("- HTTP member deleted " + user);
    RefreshMemberList();
  } else {
    AddLog("- failed to delete HTTP member " + user);
  }
}

void Tfmain::SettingsClick() {
  settings_->exec();
  ApplyLogFileSettings();
}

void Tfmain::CheckForUpdateClick() {
  update_->setHost(UpdateHost());
  update_->exec();
}

void Tfmain::MemberSectionClick(int column) {
  core_->Members().SortMembers(column);
  RefreshMemberList();
}

void Tfmain::MonitorSectionClick(int column) {
  core_->Monitored().SortMonitoredFiles(column);
  RefreshMonitoredFileList();
}

void Tfmain::NewFileClick() {
  const QString path = ChooseFileToOpen(this, "All files (*)");
  if (!path.isEmpty()) {
    const std::string name = ExtractFileName(path.toStdString());
    if (core_->Monitored().AddMonitoredFile(name)) {
      AddLog("- new file to monitor added (" + name + ")");
      core_->SaveMonitoredFiles();
    } else {
      AddLog("- failed to add new file to monitor (" + name + ")");
    }
  }
  RefreshMonitoredFileList();
}

std::string Tfmain::SelectedMonitoredFile() const {
  const int row = monitorList_->SelectedRow();
  return row < 0 ? std::string() : monitorList_->Model().Cell(row, 0).toStdString();
}

void Tfmain::DeleteFileClick() {
  if (monitorList_->SelectedRow() < 0) return;
  const std::string name = SelectedMonitoredFile();
  if (core_->Monitored().DeleteMonitoredFile(name)) {
    AddLog("- file " + name + " removed from monitoring list");
    core_->SaveMonitoredFiles();
  } else {
    AddLog("- failed to remove file " + name + " form monitor list");
  }
  RefreshMonitoredFileList();
}

void Tfmain::ResetFileClick() {
  if (monitorList_->SelectedRow() < 0) return;
  const std::string name = SelectedMonitoredFile();
  if (core_->Monitored().ResetMonitoredFile(name)) {
    AddLog("- Monitored file " + name + " reseted");
    core_->SaveMonitoredFiles();
    RefreshMonitoredFileList();
  } else {
    AddLog("- Failed to reset monitored file " + name + " data");
  }
}

void Tfmain::BrowseClick() {
  if (!QDesktopServices::openUrl(QUrl("http://" + updateHost_->text())))
    ShowErrorMessage(this, "Failed to open URL.");
}

std::string Tfmain::UserGuide() const {
  return UserGuideFile(ExecutableFolder(), core_->ProgramFolder());
}

void Tfmain::UserGuideClick() {
  const QString guide = Q(UserGuide());
  if (!QFileInfo::exists(guide) || !QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
    ShowErrorMessage(this, "Failed to open the user guide " + guide + ".");
}

void Tfmain::SetRunState(bool running) {
  runState_->setText(running ? "HTTP Running" : "HTTP Stopped");
  QPalette colours = runState_->palette();
  colours.setColor(QPalette::Window, running ? kLightGreen : kLightRed);
  colours.setColor(QPalette::WindowText, Qt::black);
  runState_->setPalette(colours);
}

void Tfmain::Timer1Timer() {
  ServerCore& core = *core_;
  const bool running = ListenersActive();
  runningCache_ = running;
  const int clients = core.ClientCount.load();
  const int previous = tray_.ImageIndex();
  const int image = !running                          ? TrayIcon::kStopped
                    : clients >= 1                    ? TrayIcon::kWithClients
                    : previous == TrayIcon::kRunning0 ? TrayIcon::kRunning1
                                                      : TrayIcon::kRunning0;
  SetRunState(running);
  if (running) {
    if (clients < 1) {
      core.Members().ClearActiveUsers();
      clientPanel_->setText("No clients");
    } else {
      clientPanel_->setText(QString::number(clients) + " clients");
    }
  }
  tray_.SetImage(image);

  const TDateTime start = core.ServerStartTime.load();
  const double hours = std::abs(HoursSince(start));
  figures_[0]->setText(start != 0 ? Q(FormatFixed(hours, 2)) + " hours" : "Stopped");
  figures_[1]->setText(QString::number(core.Stats().GetConnections()));
  figures_[2]->setText(QString::number(core.Stats().GetSessions()));
  const int64_t bytes = core.Stats().GetBytesDownloaded();
  figures_[3]->setText(Q(FormatBytesDownloaded(bytes, core.Stats().GetGigasDownloaded())));
  figures_[4]->setText(QString::number(core.Stats().GetPagesDownloaded()));
  figures_[5]->setText(Q(FormatDownloadRate(bytes, hours)));

  // A busy server changes the active users all the time; a hidden list is refilled only
  // when its tab is shown, not every 2 seconds.
  if (core.Members().ActiveUsersChanged())
    activeUsersStale_ = true;
  else
    core.Members().PruneActiveUsers(core.IdHTTPServer1.SessionTimeOut);
  if (activeUsersStale_ && tabs_->currentIndex() == kActiveTab) RefreshActiveUserList();
  core.ReleaseHeapAfterLoad();
}

}  // namespace morlak
