#include "app/dialog_services.h"

#include <QFileDialog>
#include <QStringList>

#include "app/message_boxes.h"

namespace morlak {

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i];
    const int bracket = label.indexOf(" (");
    if (bracket >= 0) label.truncate(bracket);
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts))
      patterns << pattern.trimmed();
    filters << label + " (" + patterns.join(' ') + ")";
  }
  return filters.join(";;");
}

QString QtFileChooser::OpenFile(QWidget* parent, const QString& filter, const QString& start) {
  return ChooseFileToOpen(parent, QtFileFilter(filter), start);
}

QString QtFileChooser::SaveFile(QWidget* parent, const QString& filter, const QString& folder,
                                const QString& name) {
  // The callers ask about an existing file themselves.
  QString start = folder;
  if (name.startsWith('/'))
    start = name;
  else if (!name.isEmpty())
    start = (folder.isEmpty() ? QString() : folder + "/") + name;
  return QFileDialog::getSaveFileName(parent, QString(), start, QtFileFilter(filter), nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

QString QtFileChooser::Folder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start);
}

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

std::string FromQt(const QString& text) {
  return text.toStdString();
}

namespace {

QString MessageText(const std::string& text) {
  return ToQt(text).replace('\r', '\n');
}

}  // namespace

bool QtPrompts::AskYesNo(const std::string& question) {
  return morlak::AskYesNo(parent_, MessageText(question));
}

void QtPrompts::ShowInformation(const std::string& text) {
  ShowInformationMessage(parent_, MessageText(text));
}

void QtPrompts::ShowError(const std::string& text) {
  ShowErrorMessage(parent_, MessageText(text));
}

}  // namespace morlak
