// Controls shared by the settings pages: the number field, the list editor and the text
// field with a "Browse" button.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <cstdint>
#include <string>

class QAbstractButton;
class QGridLayout;
class QListWidget;
class QPushButton;

namespace morlak {

// Accepts only the keys 0 to 9, "+", "-", backspace and Enter; its value is the integer the
// text spells, or 0 when it spells none (pasted text is taken as it is).
class NumberEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit NumberEdit(QWidget* parent = nullptr);
  int32_t Value() const;
  void SetValue(int32_t value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// A list with one input field: clicking a row copies it into the field; Add appends the
// field's text as typed (no duplicate test, no trimming); Modify replaces the selected row;
// Delete removes it. Each button empties the field when it acts; Enter in the field adds.
class ListEditor : public QWidget {
  Q_OBJECT
 public:
  // `fieldLabel` is shown before the input field when not empty.
  ListEditor(const QString& label, bool withModify, const QString& fieldLabel = {},
             QWidget* parent = nullptr);

  // The rows of a ";"-terminated list text, and back.
  void SetListText(const std::string& text);
  std::string ListText() const;
  void ClearField();

  QListWidget* List() const { return list_; }
  QLineEdit* Field() const { return field_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* ModifyButton() const { return modify_; }
  QPushButton* DeleteButton() const { return delete_; }

 private:
  void Add();
  void Modify();
  void Delete();

  QListWidget* list_;
  QLineEdit* field_;
  QPushButton* add_;
  QPushButton* modify_ = nullptr;
  QPushButton* delete_;
};

// Enter in `field` presses `add` and goes no further: in a list editor it adds the typed
// entry instead of applying and closing the whole dialog.
void AddOnEnter(QLineEdit* field, QAbstractButton* add);

// Adds a row "label | field | Browse" to `grid` and returns the field; the button is
// returned through `browse`. The field is named `key`.
QLineEdit* AddBrowseField(QGridLayout* grid, int row, const QString& label, const char* key,
                          QPushButton** browse);

}  // namespace morlak
