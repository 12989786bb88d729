// The console's --export and --import: exit status 0 only on success, and what each leaves
// on disk.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "server/data_export_import.h"
#include "stores/storage_container.h"
#include "support/temp_folder.h"

namespace morlak::test_support {
namespace {

struct Outcome {
  int status = -1;
  std::string output;
};

// The paths used here are temporary folders without quotes or spaces.
Outcome RunMorlak(const std::string& args) {
  Outcome run;
  const std::string command = std::string(MORLAK_BINARY_DIR) + "/morlak " + args + " 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(ConsoleDataTransferTest, ExportThenImportIntoAnotherFolder) {
  TempFolder from, to, out;
  for (const auto& file : kDataFiles) from.Write(file.name, std::string(file.name) + "\r\n");
  const std::string container = out.File("backup.webdata");

  Outcome exported = RunMorlak("--export " + container + " --data-dir " + from.Path());
  EXPECT_EQ(exported.status, 0) << exported.output;
  EXPECT_EQ(exported.output, "Web server data exported succesfully.\n");

  Outcome imported = RunMorlak("--data-dir " + to.Path() + " --import " + container);
  EXPECT_EQ(imported.status, 0) << imported.output;
  EXPECT_EQ(imported.output, "File imported.\n");
  for (const auto& file : kDataFiles) EXPECT_EQ(to.Read(file.name), from.Read(file.name));
}

TEST(ConsoleDataTransferTest, FailuresExitNonZeroWithTheirMessage) {
  TempFolder data, out;
  out.Write("bad.webdata", StorageHeader() + StorageEntryBytes("..", "x"));
  const struct {
    std::string args;
    std::string output;
  } cases[] = {
      {"--export " + out.File("x.webdata"), "Domain aliases file is missing, export aborted.\n"},
      {"--import " + out.File("bad.webdata"),
       "\"..\" is not a web server data file.\nImport cancelled, nothing was changed.\n"},
      {"--import " + out.File("missing.webdata"), "Cannot open file \"" +
                                                      out.File("missing.webdata") +
                                                      "\". No such file or directory\n"
                                                      "Import cancelled, nothing was changed.\n"},
  };
  for (const auto& c : cases) {
    Outcome run = RunMorlak(c.args + " --data-dir " + data.Path());
    EXPECT_EQ(run.status, 1) << c.args;
    EXPECT_EQ(run.output, c.output) << c.args;
  }
  EXPECT_TRUE(std::filesystem::is_empty(data.Path()));
  EXPECT_FALSE(std::filesystem::exists(out.File("x.webdata")));
}

}  // namespace
}  // namespace morlak::test_support
