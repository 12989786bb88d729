#include "app/settings/general_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/settings/page_widgets.h"

namespace morlak {

GeneralPage::GeneralPage(QWidget* parent) : SettingsPage(parent) {
  auto* grid = new QGridLayout;
  int row = 0;
  auto addRow = [&](const QString& label, QWidget* field, const QString& hint = {}) {
    auto* caption = new QLabel(label, this);
    grid->addWidget(caption, row, 0);
    grid->addWidget(field, row++, 1);
    if (!hint.isEmpty()) {
      caption->setToolTip(hint);
      field->setToolTip(hint);
    }
  };
  addRow(tr("Server name:"), Bind(new QLineEdit(this), "servername", &SettingsValues::serverName));
  addRow(tr("Max connections count:"),
         Bind(new NumberEdit(this), "maxconnections", &SettingsValues::maxConnections));
  addRow(tr("Session timeout (ms):"),
         Bind(new NumberEdit(this), "sessiontimeout", &SettingsValues::sessionTimeout),
         tr("Sessions will be automatically closed after inactivity of timeout value"));
  addRow(tr("Max sessions (0 = no limit):"),
         Bind(new NumberEdit(this), "maxsessions", &SettingsValues::maxSessions),
         tr("Past this many live sessions the least recently used one ends"));
  addRow(tr("Keep-alive time-out (seconds):"),
         Bind(new NumberEdit(this), "keepalivetimeout", &SettingsValues::keepAliveTimeout),
         tr("An idle kept connection closes after this many seconds"));
  addRow(tr("Default port (80):"),
         Bind(new NumberEdit(this), "httpport", &SettingsValues::httpPort),
         tr("Default port for http is 80"));
  addRow(tr("Default port for https (443):"),
         Bind(new NumberEdit(this), "httpsport", &SettingsValues::httpsPort),
         tr("Default port for https is 443"));

  auto* speeds = new QGroupBox(tr("Baudrate limitter (0 = no limitation):"), this);
  auto* speedRow = new QHBoxLayout(speeds);
  speedRow->addWidget(new QLabel(tr("Read (bps):"), speeds));
  speedRow->addWidget(Bind(new NumberEdit(speeds), "readspeed", &SettingsValues::readSpeed));
  speedRow->addWidget(new QLabel(tr("Write (bps):"), speeds));
  speedRow->addWidget(Bind(new NumberEdit(speeds), "writespeed", &SettingsValues::writeSpeed));
  // Both limits hold each connection on its own, not the server as a whole.
  auto* perConnection = new QLabel(tr("per connection"), speeds);
  perConnection->setObjectName("per connection");
  speedRow->addWidget(perConnection);

  auto* checks = new QVBoxLayout;
  auto addCheck = [&](const QString& text, const char* key, bool SettingsValues::*field,
                      const QString& hint = {}) {
    auto* box = new QCheckBox(text, this);
    box->setToolTip(hint);
    checks->addWidget(Bind(box, key, field));
  };
  addCheck(tr("Enable server-replace-tags"), "replacedata", &SettingsValues::replaceData);
  addCheck(tr("Keep connections open between requests (keep-alive)"), "keepalive",
           &SettingsValues::keepAlive);
  addCheck(tr("Start web server on program startup"), "startonstartup",
           &SettingsValues::startOnStartup);
  addCheck(tr("Start in windows startup"), "startonwindows", &SettingsValues::startOnWindows,
           tr("Enable starting of application on Windows startup"));
  addCheck(tr("Start minimized"), "startminimized", &SettingsValues::startMinimized,
           tr("Application is started in minimized mode"));
  addCheck(tr("Do not confirm close"), "nocloseconfirmation", &SettingsValues::noCloseConfirmation);

  grid->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(speeds);
  layout->addLayout(checks);
  layout->addStretch();
}

}  // namespace morlak
