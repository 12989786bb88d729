#include "app/settings/page_widgets.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/text.h"
#include "stores/server_settings.h"

namespace morlak {

namespace {

class EnterPresses : public QObject {
 public:
  EnterPresses(QAbstractButton* button, QObject* parent) : QObject(parent), button_(button) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    button_->click();
    return true;  // the dialog's default button never sees it
  }

 private:
  QAbstractButton* button_;
};

}  // namespace

void AddOnEnter(QLineEdit* field, QAbstractButton* add) {
  field->installEventFilter(new EnterPresses(add, field));
}

NumberEdit::NumberEdit(QWidget* parent) : QLineEdit(parent) {}

int32_t NumberEdit::Value() const {
  return StrToIntDef(text().toStdString(), 0);
}

void NumberEdit::SetValue(int32_t value) {
  setText(QString::number(value));
}

void NumberEdit::keyPressEvent(QKeyEvent* event) {
  // Keys that type a character are limited; editing and moving keys work as usual.
  for (const QChar c : event->text()) {
    if (c.isPrint() && !(c.isDigit() && c.unicode() < 128) && c != '+' && c != '-') {
      event->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(event);
}

ListEditor::ListEditor(const QString& label, bool withModify, const QString& fieldLabel,
                       QWidget* parent)
    : QWidget(parent),
      list_(new QListWidget(this)),
      field_(new QLineEdit(this)),
      add_(new QPushButton(tr("Add"), this)),
      delete_(new QPushButton(tr("Delete"), this)) {
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add_);
  if (withModify) {
    modify_ = new QPushButton(tr("Modify"), this);
    buttons->addWidget(modify_);
    connect(modify_, &QPushButton::clicked, this, &ListEditor::Modify);
  }
  buttons->addWidget(delete_);
  buttons->addStretch();

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(label, this));
  left->addWidget(list_, 1);
  if (fieldLabel.isEmpty()) {
    left->addWidget(field_);
  } else {
    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(new QLabel(fieldLabel, this));
    fieldRow->addWidget(field_, 1);
    left->addLayout(fieldRow);
  }
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);

  add_->setObjectName("add");
  delete_->setObjectName("delete");
  if (modify_) modify_->setObjectName("modify");
  connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    field_->setText(item->text());
    field_->setFocus();
  });
  connect(add_, &QPushButton::clicked, this, &ListEditor::Add);
  AddOnEnter(field_, add_);
  connect(delete_, &QPushButton::clicked, this, &ListEditor::Delete);
}

void ListEditor::SetListText(const std::string& text) {
  list_->clear();
  for (const auto& item : TextToList(text)) list_->addItem(QString::fromStdString(item));
}

std::string ListEditor::ListText() const {
  std::vector<std::string> rows;
  for (int i = 0; i < list_->count(); ++i) rows.push_back(list_->item(i)->text().toStdString());
  return ListToText(rows);
}

void ListEditor::ClearField() {
  field_->clear();
}

void ListEditor::Add() {
  if (field_->text().isEmpty()) return;
  list_->addItem(field_->text());
  field_->clear();
}

void ListEditor::Modify() {
  QListWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected() || field_->text().isEmpty()) return;
  item->setText(field_->text());
  field_->clear();
}

void ListEditor::Delete() {
  QListWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected()) return;
  delete list_->takeItem(list_->row(item));
  field_->clear();
}

QLineEdit* AddBrowseField(QGridLayout* grid, int row, const QString& label, const char* key,
                          QPushButton** browse) {
  QWidget* parent = grid->parentWidget();
  auto* field = new QLineEdit(parent);
  field->setObjectName(key);
  *browse = new QPushButton(QObject::tr("Browse"), parent);
  (*browse)->setObjectName(QString(key) + "Browse");
  grid->addWidget(new QLabel(label, parent), row, 0);
  grid->addWidget(field, row, 1);
  grid->addWidget(*browse, row, 2);
  grid->setColumnStretch(1, 1);  // paths get what the dialog is widened by
  return field;
}

}  // namespace morlak
