#include "app/settings/banned_page.h"

#include <QVBoxLayout>

#include "app/settings/page_widgets.h"

namespace morlak {

BannedPage::BannedPage(QWidget* parent) : SettingsPage(parent) {
  auto* layout = new QVBoxLayout(this);
  // No Modify here: an address is deleted and added again.
  layout->addWidget(Bind(new ListEditor(tr("Banned IPs list:"), false, tr("Ip to ban:")), "banned",
                         &SettingsValues::banned));
}

}  // namespace morlak
