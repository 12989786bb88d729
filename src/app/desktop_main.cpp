#include "app/desktop_main.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "app/main_window.h"

namespace morlak {

namespace {

volatile std::sig_atomic_t stopSignal = 0;
void OnStopSignal(int) {
  stopSignal = 1;
}

// Errors that escape an event handler end up in the status bar, not in a crash.
class MorlakApplication : public QApplication {
 public:
  using QApplication::QApplication;
  QPointer<Tfmain> window;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      if (window) window->ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
      if (window) window->ShowException("unknown error");
    }
    return false;
  }
};

}  // namespace

int RunDesktop(int argc, char** argv, const CoreOptions& options) {
  // Without a display Qt would abort; say what to do instead.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::fputs(
        "morlak: no display ($DISPLAY and $WAYLAND_DISPLAY are unset); run "
        "\"morlak --headless\" for the console front end\n",
        stderr);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  MorlakApplication app(argc, argv);
  QApplication::setApplicationName("morlak");
  QApplication::setApplicationDisplayName("Morlak");
  QApplication::setDesktopFileName("morlak");
  // The window goes to the tray instead of ending the program; only Exit ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  auto window = std::make_unique<Tfmain>(options);
  app.window = window.get();
  QObject::connect(window.get(), &Tfmain::ExitConfirmed, &app, &QApplication::quit,
                   Qt::QueuedConnection);
  // SIGINT or SIGTERM ends the program as Exit does, saving everything, without asking.
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  QTimer signalCheck;
  QObject::connect(&signalCheck, &QTimer::timeout, &app, [] {
    if (stopSignal) QApplication::quit();
  });
  signalCheck.start(250);
  window->show();
  const int code = QApplication::exec();
  window.reset();  // stops the listeners and saves everything
  return code;
}

}  // namespace morlak
