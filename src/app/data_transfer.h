// The desktop side of data export and import: the file dialogs and message boxes around
// the shared operations, and the restart that follows an import.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace morlak {

class ServerCore;
class FileChooser;
class DataTransferPrompts;

class DataTransfer : public QObject {
  Q_OBJECT
 public:
  // Starts a program and returns its process id, or -1 with the reason in `error`.
  using ProgramStarter = std::function<int(
      const std::string& program, const std::vector<std::string>& args, std::string* error)>;

  DataTransfer(ServerCore& core, FileChooser& files, DataTransferPrompts& prompts,
               QObject* parent = nullptr);

  // Tests put a recorder in place of the real process start.
  void SetProgramStarter(ProgramStarter starter) { starter_ = std::move(starter); }
  // How the import stops the listeners; the core's StopServers unless the window has its
  // own way.
  void SetListenerStop(std::function<void()> stop) { stopListeners_ = std::move(stop); }

  // "Export": a save dialog, then the export with its questions and messages.
  void Export(QWidget* parent);
  // "Inport": the restart question, an open dialog, then the import. After a complete
  // import a new instance of this program is started on the same data folder and
  // RestartRequired is emitted.
  void Import(QWidget* parent);

  bool RestartPending() const { return restartPending_; }

 signals:
  // The imported files are in place: end this instance without writing any data file.
  void RestartRequired();

 private:
  ServerCore& core_;
  FileChooser& files_;
  DataTransferPrompts& prompts_;
  ProgramStarter starter_;
  std::function<void()> stopListeners_;
  bool restartPending_ = false;
};

}  // namespace morlak
