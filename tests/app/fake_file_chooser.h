// Stands in for the file and folder dialogs: records what each was asked and gives the
// scripted answer.
#pragma once

#include <QString>

#include "app/dialog_services.h"

namespace morlak::test_support {

class FakeFileChooser : public FileChooser {
 public:
  QString answer;  // empty = the user cancelled
  QString kind, filter, start, name, title;

  QString OpenFile(QWidget*, const QString& f, const QString& s) override {
    kind = "open", filter = f, start = s;
    return answer;
  }
  QString SaveFile(QWidget*, const QString& f, const QString& folder, const QString& n) override {
    kind = "save", filter = f, start = folder, name = n;
    return answer;
  }
  QString Folder(QWidget*, const QString& t, const QString& s) override {
    kind = "folder", title = t, start = s;
    return answer;
  }
};

}  // namespace morlak::test_support
