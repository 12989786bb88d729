// One QApplication for every desktop test; the offscreen platform needs no display. The
// settings dialog writes or removes the start-at-logon entry when it ends, so the tests keep
// their configuration folder apart from the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
