#include "app/settings/settings_page.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "app/settings/page_widgets.h"

namespace morlak {

namespace {

template <typename... Visitors>
struct Overloaded : Visitors... {
  using Visitors::operator()...;
};

}  // namespace

void SettingsPage::Load(const SettingsValues& values) {
  for (const auto& binding : bindings_) {
    std::visit(Overloaded{
                   [&](const TextBinding& b) {
                     b.edit->setText(QString::fromStdString(values.*b.field));
                     b.edit->setCursorPosition(0);  // paths show from their start
                   },
                   [&](const NumberBinding& b) { b.edit->SetValue(values.*b.field); },
                   [&](const FlagBinding& b) { b.box->setChecked(values.*b.field); },
                   [&](const ListBinding& b) {
                     b.list->SetListText(values.*b.field);
                     b.list->ClearField();
                   },
               },
               binding);
  }
}

void SettingsPage::Apply(SettingsValues& values) const {
  for (const auto& binding : bindings_) {
    std::visit(Overloaded{
                   [&](const TextBinding& b) { values.*b.field = b.edit->text().toStdString(); },
                   [&](const NumberBinding& b) { values.*b.field = b.edit->Value(); },
                   [&](const FlagBinding& b) { values.*b.field = b.box->isChecked(); },
                   [&](const ListBinding& b) { values.*b.field = b.list->ListText(); },
               },
               binding);
  }
}

QLineEdit* SettingsPage::Bind(QLineEdit* edit, const char* key,
                              std::string SettingsValues::*field) {
  edit->setObjectName(key);
  bindings_.push_back(TextBinding{edit, field});
  return edit;
}

NumberEdit* SettingsPage::Bind(NumberEdit* edit, const char* key, int32_t SettingsValues::*field) {
  edit->setObjectName(key);
  bindings_.push_back(NumberBinding{edit, field});
  return edit;
}

QAbstractButton* SettingsPage::Bind(QAbstractButton* box, const char* key,
                                    bool SettingsValues::*field) {
  box->setObjectName(key);
  bindings_.push_back(FlagBinding{box, field});
  return box;
}

ListEditor* SettingsPage::Bind(ListEditor* list, const char* key,
                               std::string SettingsValues::*field) {
  list->setObjectName(key);
  bindings_.push_back(ListBinding{list, field});
  return list;
}

}  // namespace morlak
