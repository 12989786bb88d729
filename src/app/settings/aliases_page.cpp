#include "app/settings/aliases_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/dialog_services.h"
#include "app/settings/page_widgets.h"
#include "server/server_core.h"

namespace morlak {

AliasesPage::AliasesPage(PageContext& context, AliasTableAccess table, QWidget* parent)
    : SettingsPage(parent),
      table_(std::move(table)),
      list_(new QTreeWidget(this)),
      key_(new QLineEdit(this)),
      directory_(new QLineEdit(this)) {
  list_->setObjectName(table_.name + "list");
  key_->setObjectName(table_.name + "key");
  directory_->setObjectName(table_.name + "directory");
  list_->setColumnCount(2);
  list_->setHeaderLabels({table_.keyHeader, tr("Root Directory")});
  list_->setRootIsDecorated(false);
  list_->setAlternatingRowColors(true);
  list_->header()->setStretchLastSection(false);
  SetColumnWidths(95, 150);

  auto* browse = new QPushButton(tr("Browse"), this);
  browse->setObjectName(table_.name + "browse");
  browse->setToolTip(table_.browseHint);
  auto* add = new QPushButton(tr("Add"), this);
  add->setObjectName(table_.name + "add");
  add->setToolTip(table_.addHint);
  auto* modify = new QPushButton(tr("Modify"), this);
  modify->setObjectName(table_.name + "modify");
  modify->setToolTip(table_.modifyHint);
  auto* remove = new QPushButton(tr("Delete"), this);
  remove->setObjectName(table_.name + "delete");
  remove->setToolTip(table_.deleteHint);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      Bind(new QCheckBox(table_.enableText, this), table_.enableKey, table_.enableField));
  auto* grid = new QGridLayout;
  grid->addWidget(list_, 0, 0, 1, 3);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(modify);
  buttons->addWidget(remove);
  buttons->addStretch();
  grid->addLayout(buttons, 0, 3);
  grid->addWidget(new QLabel(table_.keyLabel, this), 1, 0);
  grid->addWidget(key_, 1, 1, 1, 2);
  grid->addWidget(new QLabel(tr("Root Directory:"), this), 2, 0);
  grid->addWidget(directory_, 2, 1);
  grid->addWidget(browse, 2, 2);
  grid->setRowStretch(0, 1);
  layout->addLayout(grid, 1);

  connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    std::string key, directory;
    if (!table_.get(list_->indexOfTopLevelItem(item), key, directory)) return;
    key_->setText(ToQt(key));
    directory_->setText(ToQt(directory));
    key_->setFocus();
  });
  connect(browse, &QPushButton::clicked, this, [this, &context] {
    const QString chosen =
        context.files.Folder(this, "Select Root Directory..", directory_->text());
    if (!chosen.isEmpty()) directory_->setText(chosen);
  });
  connect(add, &QPushButton::clicked, this, &AliasesPage::Add);
  AddOnEnter(key_, add);
  AddOnEnter(directory_, add);
  connect(modify, &QPushButton::clicked, this, &AliasesPage::Modify);
  connect(remove, &QPushButton::clicked, this, &AliasesPage::Delete);
}

void AliasesPage::Load(const SettingsValues& values) {
  SettingsPage::Load(values);
  Refill();
}

void AliasesPage::SetColumnWidths(int first, int second) {
  list_->header()->resizeSection(0, first);
  list_->header()->resizeSection(1, second);
}

int AliasesPage::ColumnWidth(int column) const {
  return list_->header()->sectionSize(column);
}

void AliasesPage::Refill() {
  list_->clear();
  for (const std::string& row : table_.list().lines) {
    // Rows are columns each followed by "||".
    QStringList columns = ToQt(row).split("||");
    if (!columns.isEmpty() && columns.back().isEmpty()) columns.removeLast();
    list_->addTopLevelItem(new QTreeWidgetItem(columns));
  }
}

void AliasesPage::Add() {
  if (key_->text().isEmpty() || directory_->text().isEmpty()) return;
  if (!table_.add(FromQt(key_->text()), FromQt(directory_->text()))) return;
  Refill();
  key_->clear();
  directory_->clear();
}

void AliasesPage::Modify() {
  QTreeWidgetItem* item = list_->currentItem();
  if (key_->text().isEmpty() || directory_->text().isEmpty() || !item || !item->isSelected())
    return;
  if (!table_.modify(list_->indexOfTopLevelItem(item), FromQt(key_->text()),
                     FromQt(directory_->text())))
    return;
  Refill();
  key_->clear();
  directory_->clear();
}

// Deletes the row named in the key field, which need not be the selected row.
void AliasesPage::Delete() {
  QTreeWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected()) return;
  if (!table_.remove(FromQt(key_->text()))) return;
  Refill();
  key_->clear();
  directory_->clear();
}

AliasTableAccess RootAliasAccess(ServerCore& core) {
  RootAliasStore& store = core.RootAliases();
  return {
      "rootalias",
      QObject::tr("Enable using root aliases"),
      "enablerootaliases",
      &SettingsValues::enableRootAliases,
      QObject::tr("Alias"),
      QObject::tr("Alias:"),
      {},
      {},
      {},
      {},
      [&store](const std::string& k, const std::string& d) { return store.AddRootAlias(k, d); },
      [&store](int i, const std::string& k, const std::string& d) {
        return store.ModifyRootAlias(i, k, d);
      },
      [&store](const std::string& k) { return store.DeleteRootAlias(k); },
      [&store](int i, std::string& k, std::string& d) { return store.GetRootAlias(i, k, d); },
      [&store] { return store.ListRootAliases(); },
  };
}

AliasTableAccess DomainAliasAccess(ServerCore& core) {
  DomainAliasStore& store = core.DomainAliases();
  return {
      "domainalias",
      QObject::tr("Enable using domain aliases"),
      "enabledomainaliases",
      &SettingsValues::enableDomainAliases,
      QObject::tr("Host name"),
      QObject::tr("Host name:"),
      QObject::tr("Browse directory  for clients connecting to this host name"),
      QObject::tr("Add new host name to list"),
      QObject::tr("Modify selected host name"),
      QObject::tr("Delete selected host from the list"),
      [&store](const std::string& k, const std::string& d) { return store.AddDomainAlias(k, d); },
      [&store](int i, const std::string& k, const std::string& d) {
        return store.ModifyDomainAlias(i, k, d);
      },
      [&store](const std::string& k) { return store.DeleteDomainAlias(k); },
      [&store](int i, std::string& k, std::string& d) { return store.GetDomainAlias(i, k, d); },
      [&store] { return store.ListDomainAliases(); },
  };
}

}  // namespace morlak
