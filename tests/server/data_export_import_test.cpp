#include "server/data_export_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "stores/storage_container.h"
#include "support/core_fixture.h"
#include "support/scripted_prompts.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::CoreFixture;
using test_support::ScriptedPrompts;
using test_support::StorageEntryBytes;
using test_support::StorageHeader;
using test_support::TempFolder;

// A program folder holding the ten data files, each with its own name as content.
void WriteDataFiles(const TempFolder& folder) {
  for (const auto& file : kDataFiles) folder.Write(file.name, std::string(file.name) + "\r\n");
}

mode_t PermissionsOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

TEST(DataExportTest, ContainerStartsWithTheHeaderAndTheDomainAliasEntry) {
  TempFolder data, out;
  WriteDataFiles(data);
  ScriptedPrompts prompts;
  ASSERT_TRUE(ExportData(data.Path(), out.File("x.webdata"), prompts));
  EXPECT_EQ(prompts.information, std::vector<std::string>{"Web server data exported succesfully."});
  const std::string bytes = out.Read("x.webdata");
  EXPECT_EQ(bytes.substr(0, 256), StorageHeader());
  EXPECT_EQ(bytes.substr(256, 22), "\x15httpdomainaliases.lst");
  // It carries the members' passwords.
  EXPECT_EQ(PermissionsOf(out.File("x.webdata")), 0600u);
}

TEST(DataExportTest, EachMissingFileGivesItsMessageAndNoContainer) {
  for (const auto& missing : kDataFiles) {
    TempFolder data, out;
    WriteDataFiles(data);
    std::filesystem::remove(data.File(missing.name));
    ScriptedPrompts prompts;
    EXPECT_FALSE(ExportData(data.Path(), out.File("x.webdata"), prompts));
    EXPECT_EQ(prompts.errors, std::vector<std::string>{missing.missingMessage}) << missing.name;
    EXPECT_FALSE(std::filesystem::exists(out.File("x.webdata")));
  }
}

TEST(DataExportTest, ExistingContainerIsReplacedOnlyAfterYesAndOnlyWhenComplete) {
  TempFolder data, out;
  WriteDataFiles(data);
  out.Write("x.webdata", "old");
  ScriptedPrompts no;
  no.answers = {false};
  EXPECT_FALSE(ExportData(data.Path(), out.File("x.webdata"), no));
  EXPECT_EQ(no.questions, std::vector<std::string>{"Overwrite existing file?"});
  EXPECT_EQ(out.Read("x.webdata"), "old");

  // Yes, but a data file is missing: the old container is not lost.
  std::filesystem::remove(data.File("httpmembers.lst"));
  ScriptedPrompts yes;
  yes.answers = {true};
  EXPECT_FALSE(ExportData(data.Path(), out.File("x.webdata"), yes));
  EXPECT_EQ(out.Read("x.webdata"), "old");
}

class DataImportTest : public ::testing::Test {
 protected:
  ImportOutcome Import(const std::string& containerBytes) {
    source.Write("in.webdata", containerBytes);
    return ImportData(
        source.File("in.webdata"), target.Path(), [this] { ++stops; }, prompts);
  }

  TempFolder source, target;
  ScriptedPrompts prompts;
  int stops = 0;
};

TEST_F(DataImportTest, DamagedOrForeignContainersChangeNothing) {
  const std::string good = StorageEntryBytes("httpsettings.lst", "[settings]\r\n");
  const struct {
    const char* what;
    std::string bytes;
    const char* problem;
  } cases[] = {
      {"not a container", "just some text, not a container", "Storage file header check failed."},
      {"truncated content", StorageHeader() + good + good.substr(0, good.size() - 3),
       "Storage file ends inside the content of \"httpsettings.lst\"."},
      {"truncated fields", StorageHeader() + good + good.substr(0, 100),
       "Storage file ends inside an entry header."},
      {"parent step", StorageHeader() + good + StorageEntryBytes("../httpmembers.lst", "x"),
       "\"../httpmembers.lst\" is not a web server data file."},
      {"foreign name", StorageHeader() + StorageEntryBytes("morlak", "x"),
       "\"morlak\" is not a web server data file."},
  };
  for (const auto& c : cases) {
    prompts = ScriptedPrompts();
    target.Write("httpsettings.lst", "kept");
    EXPECT_EQ(Import(c.bytes), ImportOutcome::kRefused) << c.what;
    ASSERT_EQ(prompts.errors.size(), 1u) << c.what;
    EXPECT_EQ(prompts.errors[0],
              std::string(c.problem) + "\rImport cancelled, nothing was changed.");
    EXPECT_EQ(target.Read("httpsettings.lst"), "kept") << c.what;
    EXPECT_FALSE(std::filesystem::exists(target.File("httpmembers.lst"))) << c.what;
  }
  EXPECT_EQ(stops, 0);
}

TEST_F(DataImportTest, FailedExtractionAskedAndAbortedKeepsTheFilesWrittenSoFar) {
  // A folder where the second file belongs cannot be replaced by a file.
  target.MakeFolder("httprootaliases.lst");
  const std::string bytes = StorageHeader() +
                            StorageEntryBytes("HTTPDOMAINALIASES.LST", "d;/d;\r\n") +
                            StorageEntryBytes("httprootaliases.lst", "r;/r;\r\n") +
                            StorageEntryBytes("httpmembers.lst", "m");
  prompts.answers = {true};
  EXPECT_EQ(Import(bytes), ImportOutcome::kAborted);
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(prompts.questions,
            std::vector<std::string>{"Failed to extract \"httprootaliases.lst\", abort import?"});
  // The entry is written under the data file's own spelling.
  EXPECT_EQ(target.Read("httpdomainaliases.lst"), "d;/d;\r\n");
  EXPECT_FALSE(std::filesystem::exists(target.File("httpmembers.lst")));

  // Answering No goes on with the next entry.
  prompts = ScriptedPrompts();
  prompts.answers = {false};
  EXPECT_EQ(Import(bytes), ImportOutcome::kImported);
  EXPECT_EQ(target.Read("httpmembers.lst"), "m");
}

TEST_F(DataImportTest, FilesWithPasswordsAreCreatedForTheOwnerOnly) {
  const mode_t mask = ::umask(022);
  const std::string bytes = StorageHeader() + StorageEntryBytes("httpsettings.lst", "s") +
                            StorageEntryBytes("httpmembers.lst", "m") +
                            StorageEntryBytes("httpmimelist.lst", "t");
  EXPECT_EQ(Import(bytes), ImportOutcome::kImported);
  ::umask(mask);
  EXPECT_EQ(PermissionsOf(target.File("httpsettings.lst")), 0600u);
  EXPECT_EQ(PermissionsOf(target.File("httpmembers.lst")), 0600u);
  EXPECT_EQ(PermissionsOf(target.File("httpmimelist.lst")), 0644u);
}

TEST(DataTransferRoundTripTest, ImportedFilesAreWhatTheNextStartReads) {
  CoreFixture from({"servername=Exported Server"});
  from.Start();
  from.core->RootAliases().AddRootAlias("/music", "/srv/music/");
  from.core->Shutdown();  // writes every data file
  ScriptedPrompts prompts;
  TempFolder out;
  ASSERT_TRUE(ExportData(from.data.Path(), out.File("all.webdata"), prompts));

  CoreFixture to({"servername=Old Server"});
  to.Start();
  ASSERT_TRUE(to.core->IdHTTPServer1.Active());
  EXPECT_EQ(ImportData(
                out.File("all.webdata"), to.data.Path(),
                [&] {
                  to.core->StopServers();
                  to.core->FreezeDataFiles();
                },
                prompts),
            ImportOutcome::kImported);
  EXPECT_FALSE(to.core->IdHTTPServer1.Active());
  to.core->Shutdown();  // the way out after an import writes no data file
  to.core.reset();

  to.Start();
  EXPECT_EQ(to.core->Settings().GetServerName(), "Exported Server");
  EXPECT_EQ(to.core->RootAliases().ListRootAliases().lines,
            std::vector<std::string>{"/music||/srv/music/||"});
}

}  // namespace
}  // namespace morlak
