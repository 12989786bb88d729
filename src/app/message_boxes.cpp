#include "app/message_boxes.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace morlak {

namespace {

MessageBoxAnswers& Answers() {
  static MessageBoxAnswers answers;
  return answers;
}

QString Title() {
  return QApplication::applicationDisplayName();
}

}  // namespace

void SetMessageBoxAnswers(MessageBoxAnswers answers) {
  Answers() = std::move(answers);
}

void ShowInformationMessage(QWidget* parent, const QString& text) {
  if (Answers().onMessage) {
    Answers().onMessage(MessageKind::Information, text);
    return;
  }
  QMessageBox::information(parent, Title(), text);
}

void ShowErrorMessage(QWidget* parent, const QString& text) {
  if (Answers().onMessage) {
    Answers().onMessage(MessageKind::Error, text);
    return;
  }
  QMessageBox::critical(parent, Title(), text);
}

bool AskYesNo(QWidget* parent, const QString& text) {
  if (Answers().onMessage) return Answers().onMessage(MessageKind::Question, text);
  return QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No) !=
         QMessageBox::No;
}

QString ChooseFileToOpen(QWidget* parent, const QString& filter, const QString& start) {
  if (Answers().onChooseFile) return Answers().onChooseFile(filter);
  return QFileDialog::getOpenFileName(parent, QString(), start, filter);
}

}  // namespace morlak
