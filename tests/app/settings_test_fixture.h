// A settings dialog over a core whose data folder is a temporary folder, with the file
// dialogs and message boxes scripted and the start-at-logon entry kept in a temporary
// configuration folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QTest>
#include <memory>

#include "app/settings_dialog.h"
#include "fake_file_chooser.h"
#include "support/core_fixture.h"
#include "support/scripted_prompts.h"

namespace morlak::test_support {

class SettingsDialogFixture : public ::testing::Test {
 protected:
  SettingsDialogFixture() {
    ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    StartCore();
  }
  ~SettingsDialogFixture() override {
    dialog.reset();
    core.reset();
  }

  // A new core (as at program start) and a new dialog over it.
  void StartCore() {
    dialog.reset();
    core.reset();
    CoreOptions options;
    options.programFolder = data.Path();
    options.httpPort = 0;  // any free port, when a test starts the listeners
    core = std::make_unique<ServerCore>(front, options);
    core->Startup(false);
    dialog = std::make_unique<Thttpsettings>(*core, nullptr, &files, &prompts);
  }
  void Open() {
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  }
  template <typename T>
  T* Control(const QString& name) {
    T* control = dialog->findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name.toStdString();
    return control;
  }
  // Clicks the button `name`, inside the control `within` when given.
  void Click(const QString& name, const QString& within = {}) {
    QObject* scope = within.isEmpty() ? static_cast<QObject*>(dialog.get())
                                      : dialog->findChild<QObject*>(within);
    ASSERT_NE(scope, nullptr) << within.toStdString();
    auto* button = scope->findChild<QAbstractButton*>(name);
    ASSERT_NE(button, nullptr) << name.toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
  }

  TempFolder config;
  TempFolder data;
  RecordingFrontEnd front;
  FakeFileChooser files;
  ScriptedPrompts prompts;
  std::unique_ptr<ServerCore> core;
  std::unique_ptr<Thttpsettings> dialog;
};

}  // namespace morlak::test_support
