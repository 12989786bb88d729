// The update dialog (Tfupdate): runs one update check each time it is shown and lists
// its progress, newest line first. The check runs on a worker thread, so the window stays
// responsive; "Close" ends the check at once, a download in progress included.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <thread>

#include "server/update_client.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace morlak {

class FileChooser;
class QtFileChooser;
class UpdateCheck;

class Tfupdate : public QDialog {
  Q_OBJECT

 public:
  // `files` replaces the desktop's save dialog (tests, screenshots).
  explicit Tfupdate(QWidget* parent = nullptr, FileChooser* files = nullptr);
  // Ends a running check and waits for its thread.
  ~Tfupdate() override;

  // The update host, handed over by the main window before the dialog is shown.
  void setHost(const QString& host) { host_ = host; }
  const QString& host() const { return host_; }
  // Replaces the "WEB Server Update" caption when not empty.
  void setCaptionText(const QString& text) { captionText_ = text; }
  // 4995 unless a test or a LAN set-up says otherwise.
  void setPort(int port) { port_ = port; }
  void setTimeouts(const UpdateTimeouts& timeouts) { timeouts_ = timeouts; }
  void setBuildNumber(int64_t build) { buildNumber_ = build; }

  bool checkRunning() const { return check_ != nullptr; }

 signals:
  // A build or size line that is not a number ended the check; the main window shows
  // it on its error display.
  void errorRaised(const QString& message);
  void checkFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  // "Close", the window's close button and Escape all end here.
  void done(int result) override;

 private:
  friend class UpdateDialogFrontEnd;

  void startCheck();
  // Ends the running check (if any) and waits for its thread.
  void stopCheck();
  void addProgressLine(const QString& text);
  void setBarCount(int64_t received, int64_t size);
  void setBarText(const QString& text);
  void resetBar();
  void finishCheck(unsigned generation);

  std::unique_ptr<QtFileChooser> ownFiles_;
  FileChooser* files_;
  QString host_;
  QString captionText_;
  int port_ = kUpdatePort;
  UpdateTimeouts timeouts_;
  int64_t buildNumber_;
  bool started_ = false;

  // Reports of a check carry its generation; those of an ended check are dropped.
  unsigned generation_ = 0;
  std::shared_ptr<UpdateCheck> check_;
  std::thread worker_;

  QLabel* progressLabel_;
  QListWidget* progressList_;
  QProgressBar* progressBar_;
  QPushButton* closeButton_;
};

}  // namespace morlak
