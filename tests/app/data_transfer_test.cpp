#include "app/data_transfer.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <filesystem>

#include "platform/files.h"
#include "platform/program_process.h"
#include "settings_test_fixture.h"
#include "stores/storage_container.h"

namespace morlak::test_support {
namespace {

class DataTransferTest : public SettingsDialogFixture {
 protected:
  DataTransferTest() {
    dialog->Transfer().SetProgramStarter(
        [this](const std::string& program, const std::vector<std::string>& args, std::string*) {
          started.push_back(program);
          started.insert(started.end(), args.begin(), args.end());
          return 4242;
        });
  }
  // Exports the stores into out/all.webdata through the "Export" button.
  std::string ExportAll() {
    files.answer = QString::fromStdString(out.File("all.webdata"));
    Click("export");
    return out.File("all.webdata");
  }

  TempFolder out;
  std::vector<std::string> started;
};

TEST_F(DataTransferTest, CompleteImportStartsTheProgramAgainOnTheImportedData) {
  SettingsValues values = core->Settings().Get();
  values.serverName = "Exported Server";
  core->Settings().Set(values);
  // The first session has written no data file yet: the export saves the stores first.
  ASSERT_FALSE(std::filesystem::exists(data.File("httpdomainaliases.lst")));
  const std::string container = ExportAll();
  EXPECT_EQ(files.kind, "save");
  EXPECT_EQ(files.filter, "Web server data (*.webdata)|*.webdata");
  EXPECT_EQ(files.name, "WebServerExport.webdata");
  EXPECT_EQ(prompts.information, std::vector<std::string>{"Web server data exported succesfully."});

  values.serverName = "Changed Later";
  core->Settings().Set(values);
  core->Settings().SaveSettings();
  core->StartServers();
  Open();
  QSignalSpy restart(dialog.get(), &Thttpsettings::RestartRequired);
  prompts.answers = {true};
  files.answer = QString::fromStdString(container);
  Click("import");
  EXPECT_EQ(
      prompts.questions,
      std::vector<std::string>{"Morlak will re-start after import,\rAre you sure so continue?"});
  EXPECT_EQ(prompts.information.back(), "File imported.\rApplication will now restart.");
  EXPECT_FALSE(core->IdHTTPServer1.Active());
  EXPECT_EQ(started, (std::vector<std::string>{ExecutablePath(), "--data-dir", data.Path()}));
  EXPECT_EQ(restart.count(), 1);
  EXPECT_FALSE(dialog->isVisible());

  // The way out after an import saves nothing, so the next start reads the imported files.
  dialog.reset();
  core->Shutdown();
  StartCore();
  EXPECT_EQ(core->Settings().GetServerName(), "Exported Server");
}

TEST_F(DataTransferTest, ImportAbortedAfterAFailedExtractionDoesNotRestart) {
  core->StartServers();
  ASSERT_TRUE(core->IdHTTPServer1.Active());
  out.Write("in.webdata", StorageHeader() + StorageEntryBytes("httpmembers.lst", "m") +
                              StorageEntryBytes("statbytes.lst", "b") +
                              StorageEntryBytes("statlist.lst", "l"));
  data.MakeFolder("statbytes.lst");  // cannot be replaced by a file
  QSignalSpy restart(dialog.get(), &Thttpsettings::RestartRequired);
  prompts.answers = {true, true};  // continue with the import, then abort it
  files.answer = QString::fromStdString(out.File("in.webdata"));
  Open();
  Click("import");
  EXPECT_EQ(prompts.questions.back(), "Failed to extract \"statbytes.lst\", abort import?");
  EXPECT_EQ(data.Read("httpmembers.lst"), "m");
  EXPECT_FALSE(std::filesystem::exists(data.File("statlist.lst")));
  EXPECT_FALSE(core->IdHTTPServer1.Active());
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(restart.count(), 0);
}

TEST_F(DataTransferTest, RefusingTheQuestionOrTheFileDialogChangesNothing) {
  core->StartServers();
  files.answer = QString::fromStdString(out.Write("x.webdata", "not read"));
  prompts.answers = {false};
  Click("import");
  EXPECT_TRUE(files.kind.isEmpty());  // no file dialog after No
  prompts.answers = {true};
  files.answer.clear();
  Click("import");
  EXPECT_EQ(files.kind, "open");
  EXPECT_TRUE(core->IdHTTPServer1.Active());
  EXPECT_TRUE(prompts.errors.empty());
}

}  // namespace
}  // namespace morlak::test_support
