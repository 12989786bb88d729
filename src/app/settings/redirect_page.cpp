#include "app/settings/redirect_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/page_widgets.h"

namespace morlak {

RedirectPage::RedirectPage(QWidget* parent)
    : SettingsPage(parent),
      list_(new QListWidget(this)),
      document_(new QLineEdit(this)),
      target_(new QLineEdit(this)) {
  list_->setObjectName("redirect");
  document_->setObjectName("redirectDocument");
  target_->setObjectName("redirectTarget");
  auto* add = new QPushButton(tr("Add"), this);
  auto* modify = new QPushButton(tr("Modify"), this);
  auto* remove = new QPushButton(tr("Delete"), this);
  add->setObjectName("redirectAdd");
  modify->setObjectName("redirectModify");
  remove->setObjectName("redirectDelete");

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(tr("Redirected Documents:"), this), 0, 0, 1, 2);
  grid->addWidget(list_, 1, 0, 1, 2);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(modify);
  buttons->addWidget(remove);
  buttons->addStretch();
  grid->addLayout(buttons, 1, 2);
  grid->addWidget(new QLabel(tr("Document:"), this), 2, 0);
  grid->addWidget(document_, 2, 1);
  grid->addWidget(new QLabel(tr("Redirect:"), this), 3, 0);
  grid->addWidget(target_, 3, 1);
  grid->setRowStretch(1, 1);

  connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    const QString row = item->text();
    const int eq = row.indexOf('=');
    document_->setText(eq < 0 ? row : row.left(eq));
    target_->setText(eq < 0 ? QString() : row.mid(eq + 1));
  });
  connect(add, &QPushButton::clicked, this, &RedirectPage::Add);
  AddOnEnter(document_, add);
  AddOnEnter(target_, add);
  connect(modify, &QPushButton::clicked, this, &RedirectPage::Modify);
  connect(remove, &QPushButton::clicked, this, &RedirectPage::Delete);
}

void RedirectPage::Load(const SettingsValues& values) {
  list_->clear();
  for (const auto& row : TextToList(values.redirect)) list_->addItem(QString::fromStdString(row));
}

void RedirectPage::Apply(SettingsValues& values) const {
  std::vector<std::string> rows;
  for (int i = 0; i < list_->count(); ++i) rows.push_back(list_->item(i)->text().toStdString());
  values.redirect = ListToText(rows);
}

void RedirectPage::ClearFields() {
  document_->clear();
  target_->clear();
}

void RedirectPage::Add() {
  if (document_->text().isEmpty() || target_->text().isEmpty()) return;
  list_->addItem(document_->text() + "=" + target_->text());
  ClearFields();
}

void RedirectPage::Modify() {
  QListWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected() || document_->text().isEmpty() || target_->text().isEmpty())
    return;
  item->setText(document_->text() + "=" + target_->text());
  ClearFields();
}

void RedirectPage::Delete() {
  QListWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected()) return;
  delete list_->takeItem(list_->row(item));
  ClearFields();
}

}  // namespace morlak
