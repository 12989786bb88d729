// The member editor (Thttpclienteditor): a small modal dialog for one member's user name,
// password and home folder. It does not touch the member store; the main window fills its
// three values, shows it and, when Applied is set, passes them to AddMember or ModifyMember.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <functional>
#include <string>

class QLineEdit;

namespace morlak {

class Thttpclienteditor : public QDialog {
  Q_OBJECT
 public:
  explicit Thttpclienteditor(QWidget* parent = nullptr);

  std::string UserName;
  std::string Password;
  std::string HomeDirectory;
  bool Applied = false;

  // Asks for the home folder starting from the box's text; empty when cancelled. Tests
  // put their own answer in place of the folder picker.
  std::function<QString(QWidget* parent, const QString& homeText)> PickFolder;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* userName_;
  QLineEdit* password_;
  QLineEdit* home_;
};

// The folder picker of "Browse": when `homeText` names an existing folder, only that folder
// and its sub-folders can be chosen and it is the first selection; otherwise the picker starts
// at the desktop. Only folders are offered, and no new folder can be made.
class HomeFolderPicker : public QFileDialog {
  Q_OBJECT
 public:
  HomeFolderPicker(QWidget* parent, const QString& homeText);

  // The folder the choice is kept within; empty when any folder may be chosen.
  const QString& Root() const { return root_; }
  // The chosen folder after exec(); empty when cancelled.
  QString ChosenFolder() const;
  // Whether `path` may be chosen: the root or a folder below it.
  bool InsideRoot(const QString& path) const;

  void accept() override;

 private:
  QString root_;
};

}  // namespace morlak
