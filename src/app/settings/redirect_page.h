// "Redirect": rows of a document and the document it is redirected to.
#pragma once

#include "app/settings/settings_page.h"

class QLineEdit;
class QListWidget;

namespace morlak {

class RedirectPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit RedirectPage(QWidget* parent = nullptr);

  void Load(const SettingsValues& values) override;
  void Apply(SettingsValues& values) const override;

 private:
  void Add();
  void Modify();
  void Delete();
  void ClearFields();

  QListWidget* list_;
  QLineEdit* document_;
  QLineEdit* target_;
};

}  // namespace morlak
