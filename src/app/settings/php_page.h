// "Php": the PHP program, the folder of its configuration file and the PHP extensions.
#pragma once

#include "app/settings/settings_page.h"

namespace morlak {

class PhpPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit PhpPage(PageContext& context, QWidget* parent = nullptr);
};

}  // namespace morlak
