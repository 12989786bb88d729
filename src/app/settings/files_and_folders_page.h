// "Files and Folders": default file names, the anonymous web folder, the templates folder
// and the five response pages.
#pragma once

#include "app/settings/settings_page.h"

namespace morlak {

class FilesAndFoldersPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit FilesAndFoldersPage(PageContext& context, QWidget* parent = nullptr);
};

}  // namespace morlak
