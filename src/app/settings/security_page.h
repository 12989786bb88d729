// "Security": the TLS certificate files, the key's pass phrase, the peer checks, which
// listeners run, and a button that makes a self-signed certificate for this machine.
#pragma once

#include "app/settings/settings_page.h"

class QButtonGroup;

namespace morlak {

class SecurityPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit SecurityPage(PageContext& context, QWidget* parent = nullptr);

  // Both protocol buttons take their stored state, even when neither or both are set.
  void Load(const SettingsValues& values) override;

 private:
  QButtonGroup* protocol_;
};

}  // namespace morlak
