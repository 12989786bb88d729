// "Export/Inport": the buttons that write all data files into one container and read
// them back.
#pragma once

#include "app/settings/settings_page.h"

class QPushButton;

namespace morlak {

class ExportImportPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit ExportImportPage(QWidget* parent = nullptr);

 signals:
  void ExportClicked();
  void ImportClicked();
};

}  // namespace morlak
