// The notification-area icon: four images (0 and 1 running without clients, which the
// main window's timer alternates; 2 stopped; 3 running with clients), the hint that
// follows the log, and the menu "Restore", "Start", "Stop", "Exit", "Cancel".
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <array>

namespace morlak {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  enum Image { kRunning0 = 0, kRunning1 = 1, kStopped = 2, kWithClients = 3 };
  static constexpr int kMaxHintLength = 127;

  explicit TrayIcon(QObject* parent = nullptr);

  void SetImage(int index);
  int ImageIndex() const { return image_; }
  static QIcon ImageIcon(int index);
  // The hint as the log makes it ("WEB Server Running\rTime: ..."), cut to 127 characters.
  void SetHint(const QString& hint);
  QString Hint() const { return hint_; }
  void SetVisible(bool visible);
  bool IsVisible() const { return icon_.isVisible(); }
  QMenu& Menu() { return menu_; }

 signals:
  void RestoreRequested();
  void StartRequested();
  void StopRequested();
  void ExitRequested();

 private:
  QSystemTrayIcon icon_;
  QMenu menu_;
  int image_ = kStopped;
  QString hint_;
};

}  // namespace morlak
