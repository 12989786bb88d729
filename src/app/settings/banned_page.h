// "Banned List": client addresses refused at connect.
#pragma once

#include "app/settings/settings_page.h"

namespace morlak {

class BannedPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit BannedPage(QWidget* parent = nullptr);
};

}  // namespace morlak
