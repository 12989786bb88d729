#include "app/tray_icon.h"

#include <QTextDocument>

namespace morlak {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
  menu_.addAction("Restore", this, &TrayIcon::RestoreRequested);
  menu_.addSeparator();
  menu_.addAction("Start", this, &TrayIcon::StartRequested);
  menu_.addAction("Stop", this, &TrayIcon::StopRequested);
  menu_.addAction("Exit", this, &TrayIcon::ExitRequested);
  menu_.addSeparator();
  menu_.addAction("Cancel");  // only closes the menu
  icon_.setContextMenu(&menu_);
  icon_.setIcon(ImageIcon(image_));
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) emit RestoreRequested();
  });
}

QIcon TrayIcon::ImageIcon(int index) {
  static const std::array<QIcon, 4> icons = {
      QIcon(":/icons/tray_running0.svg"), QIcon(":/icons/tray_running1.svg"),
      QIcon(":/icons/tray_stopped.svg"), QIcon(":/icons/tray_clients.svg")};
  return icons[static_cast<size_t>(index) % icons.size()];
}

void TrayIcon::SetImage(int index) {
  if (index == image_) return;
  image_ = index;
  icon_.setIcon(ImageIcon(index));
}

void TrayIcon::SetHint(const QString& hint) {
  hint_ = hint.left(kMaxHintLength);
  // The panels show line breaks, not the CR the hint is made with; a tooltip that looks
  // like markup is escaped so it is shown as the text it is.
  QString shown = hint_;
  shown.replace(u'\r', u'\n');
  if (Qt::mightBeRichText(shown)) shown = shown.toHtmlEscaped().replace(u'\n', "<br>");
  icon_.setToolTip(shown);
}

void TrayIcon::SetVisible(bool visible) {
  icon_.setVisible(visible);
}

}  // namespace morlak
