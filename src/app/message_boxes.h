// The message boxes and the file-open dialog of the desktop front end. Every window asks
// through these functions, so tests (which cannot click a modal box) can answer them.
// A box stays centred on its parent's window, also when a window manager places that
// window only after the box has appeared (as with the first-run message).
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace morlak {

enum class MessageKind { Information, Error, Question };

// Answers a box instead of showing it: returns true for Yes (questions) and receives
// the kind and text. The file chooser answer is the chosen path ("" = cancelled).
struct MessageBoxAnswers {
  std::function<bool(MessageKind, const QString& text)> onMessage;
  std::function<QString(const QString& filter)> onChooseFile;
};

// Installs answers for tests; an empty struct restores the real dialogs.
void SetMessageBoxAnswers(MessageBoxAnswers answers);

void ShowInformationMessage(QWidget* parent, const QString& text);
void ShowErrorMessage(QWidget* parent, const QString& text);
// True unless the user answers No.
bool AskYesNo(QWidget* parent, const QString& text);
enum class Answer { Yes, No, Cancel };
// Yes, No and Cancel; Escape and the box's close button answer Cancel. The test answers
// give Yes or No.
Answer AskYesNoCancel(QWidget* parent, const QString& text);
// The chosen file's path, or "" when cancelled. `filter` is a Qt name filter; the dialog
// starts at `start` (a folder, or a file to preset).
QString ChooseFileToOpen(QWidget* parent, const QString& filter, const QString& start = {});

}  // namespace morlak
