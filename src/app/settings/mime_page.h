// "Mime List": the content-type table as a two-column grid of extension and type.
// Extensions are shown in lower case and written back as typed.
#pragma once

#include "app/settings/settings_page.h"

class QTableWidget;

namespace morlak {

class MimePage : public SettingsPage {
  Q_OBJECT
 public:
  explicit MimePage(QWidget* parent = nullptr);

  void Load(const SettingsValues& values) override;
  void Apply(SettingsValues& values) const override;
  // An extension typed twice, or a type without an extension.
  QString Problem() const override;

  QTableWidget* Grid() const { return grid_; }

 private:
  QTableWidget* grid_;
};

}  // namespace morlak
