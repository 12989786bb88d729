#include "app/settings/cgi_and_isapi_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace morlak {

CgiAndIsapiPage::CgiAndIsapiPage(QWidget* parent) : SettingsPage(parent) {
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr("Server administrator email:"), this), 0, 0);
  grid->addWidget(Bind(new QLineEdit(this), "adminemail", &SettingsValues::adminEmail), 0, 1);
  grid->addWidget(Bind(new QCheckBox(tr("Enable CGI Applications; Alias directory:"), this),
                       "enablecgiapplications", &SettingsValues::enableCgiApplications),
                  1, 0);
  grid->addWidget(Bind(new QLineEdit(this), "cgialias", &SettingsValues::cgiAlias), 1, 1);
  grid->addWidget(Bind(new QCheckBox(tr("Enable ISAPI Extensions; Alias directory:"), this),
                       "enableisapilibraries", &SettingsValues::enableIsapiLibraries),
                  2, 0);
  grid->addWidget(Bind(new QLineEdit(this), "isapialias", &SettingsValues::isapiAlias), 2, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch();
}

}  // namespace morlak
