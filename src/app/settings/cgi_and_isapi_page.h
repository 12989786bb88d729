// "Cgi and Isapi": the administrator address given to gateways and the two gateway aliases.
#pragma once

#include "app/settings/settings_page.h"

namespace morlak {

class CgiAndIsapiPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit CgiAndIsapiPage(QWidget* parent = nullptr);
};

}  // namespace morlak
