// "General": server name, connection cap, session timeout, rate limits, ports and the
// start-up switches.
#pragma once

#include "app/settings/settings_page.h"

namespace morlak {

class GeneralPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit GeneralPage(QWidget* parent = nullptr);
};

}  // namespace morlak
