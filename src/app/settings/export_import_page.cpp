#include "app/settings/export_import_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace morlak {

ExportImportPage::ExportImportPage(QWidget* parent) : SettingsPage(parent) {
  auto* exportButton = new QPushButton(tr("Export"), this);
  exportButton->setObjectName("export");
  exportButton->setToolTip(tr("Export settings to File"));
  auto* importButton = new QPushButton(tr("Inport"), this);
  importButton->setObjectName("import");
  importButton->setToolTip(tr("Inport settings from File"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(tr("Export all settings to File"), this), 0, 0);
  grid->addWidget(exportButton, 0, 1);
  grid->addWidget(new QLabel(tr("Inport all settings from File"), this), 1, 0);
  grid->addWidget(importButton, 1, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(2, 1);
  connect(exportButton, &QPushButton::clicked, this, &ExportImportPage::ExportClicked);
  connect(importButton, &QPushButton::clicked, this, &ExportImportPage::ImportClicked);
}

}  // namespace morlak
