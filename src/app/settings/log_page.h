// "Log": lines kept on screen, the log file and its cap, and the extensions not logged.
#pragma once

#include "app/settings/settings_page.h"

namespace morlak {

class LogPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit LogPage(PageContext& context, QWidget* parent = nullptr);
};

}  // namespace morlak
