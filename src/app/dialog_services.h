// What the dialogs ask of the desktop: message boxes and file and folder choosers. The
// dialogs reach them through these interfaces, so tests can answer in place of a user.
#pragma once

#include <QString>
#include <string>

#include "server/data_export_import.h"

class QWidget;

namespace morlak {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // `filter` in the form "Label|patterns|Label|patterns" (patterns separated by ";").
  // An empty result means the user cancelled.
  virtual QString OpenFile(QWidget* parent, const QString& filter, const QString& start) = 0;
  // `folder` is where the dialog starts and `name` the preset file name.
  virtual QString SaveFile(QWidget* parent, const QString& filter, const QString& folder,
                           const QString& name) = 0;
  virtual QString Folder(QWidget* parent, const QString& title, const QString& start) = 0;
};

// The chooser's filter form turned into Qt's: "Html files (*.htm, *.html)|*.htm; *.html"
// becomes "Html files (*.htm *.html)".
QString QtFileFilter(const QString& filter);

class QtFileChooser : public FileChooser {
 public:
  QString OpenFile(QWidget* parent, const QString& filter, const QString& start) override;
  QString SaveFile(QWidget* parent, const QString& filter, const QString& folder,
                   const QString& name) override;
  QString Folder(QWidget* parent, const QString& title, const QString& start) override;
};

// The program's message boxes (message_boxes.h) over `parent`; line breaks written "\r"
// show as breaks.
class QtPrompts : public DataTransferPrompts {
 public:
  explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  bool AskYesNo(const std::string& question) override;
  void ShowInformation(const std::string& text) override;
  void ShowError(const std::string& text) override;

 private:
  QWidget* parent_;
};

// Texts of the stores are UTF-8 byte strings; line breaks written "\r" show as breaks.
QString ToQt(const std::string& text);
std::string FromQt(const QString& text);

}  // namespace morlak
