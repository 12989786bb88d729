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

// Moves the box over the centre of the window whenever either is shown, moved or resized.
class CentreOnWindow : public QObject {
 public:
  CentreOnWindow(QWidget& box, QWidget& window) : box_(box), window_(window) {
    box.installEventFilter(this);
    window.installEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)
      box_.move(window_.frameGeometry().center() - box_.rect().center());
    return false;
  }

 private:
  QWidget& box_;
  QWidget& window_;
};

QMessageBox::StandardButton Run(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, Title(), text, buttons, parent);
  QWidget* window = parent ? parent->window() : nullptr;
  if (!window || !window->isVisible()) return static_cast<QMessageBox::StandardButton>(box.exec());
  CentreOnWindow centre(box, *window);
  return static_cast<QMessageBox::StandardButton>(box.exec());
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
  Run(parent, QMessageBox::Information, text, QMessageBox::Ok);
}

void ShowErrorMessage(QWidget* parent, const QString& text) {
  if (Answers().onMessage) {
    Answers().onMessage(MessageKind::Error, text);
    return;
  }
  Run(parent, QMessageBox::Critical, text, QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& text) {
  if (Answers().onMessage) return Answers().onMessage(MessageKind::Question, text);
  return Run(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) !=
         QMessageBox::No;
}

Answer AskYesNoCancel(QWidget* parent, const QString& text) {
  if (Answers().onMessage)
    return Answers().onMessage(MessageKind::Question, text) ? Answer::Yes : Answer::No;
  switch (Run(parent, QMessageBox::Question, text,
              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return Answer::Cancel;
  }
}

QString ChooseFileToOpen(QWidget* parent, const QString& filter, const QString& start) {
  if (Answers().onChooseFile) return Answers().onChooseFile(filter);
  return QFileDialog::getOpenFileName(parent, QString(), start, filter);
}

}  // namespace morlak
