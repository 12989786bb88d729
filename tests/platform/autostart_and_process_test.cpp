#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>

#include "platform/autostart_entry.h"
#include "platform/files.h"
#include "platform/program_process.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::ScopedEnv;
using test_support::TempFolder;

TEST(AutostartEntryTest, PathFollowsXdgConfigHomeThenHome) {
  ScopedEnv home("HOME", "/home/u");
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(AutostartEntryPath(), "/cfg/autostart/morlak.desktop");
  }
  {
    ScopedEnv config("XDG_CONFIG_HOME", "relative");  // not absolute: ignored
    EXPECT_EQ(AutostartEntryPath(), "/home/u/.config/autostart/morlak.desktop");
  }
}

TEST(AutostartEntryTest, ExecLineKeepsEveryCharacterOfTheArguments) {
  const struct {
    std::string arg;
    std::string exec;
  } cases[] = {
      {"/opt/morlak/morlak", R"("/opt/morlak/morlak")"},
      {"/my data/x", R"("/my data/x")"},
      {"a\"b$c`d", R"("a\\"b\\$c\\`d")"},
      {"back\\slash", R"("back\\\\slash")"},
      {"100%", R"("100%%")"},
  };
  for (const auto& c : cases) {
    const std::string text = AutostartEntryText(c.arg, {});
    EXPECT_NE(text.find("\nExec=" + c.exec + "\n"), std::string::npos) << text;
  }
  EXPECT_NE(AutostartEntryText("/p", {"--data-dir", "/d/"})
                .find("\nExec=\"/p\" \"--data-dir\" \"/d/\"\n"),
            std::string::npos);
}

TEST(AutostartEntryTest, WrittenForAnExistingProgramAndRemovedSilently) {
  TempFolder config;
  ScopedEnv env("XDG_CONFIG_HOME", config.Path().c_str());
  const std::string entry = config.File("autostart/morlak.desktop");

  EXPECT_FALSE(WriteAutostartEntry(config.File("no-such-program"), {}));
  EXPECT_FALSE(std::filesystem::exists(entry));

  const std::string program = config.Write("morlak", "");
  ASSERT_TRUE(WriteAutostartEntry(program, {}));
  EXPECT_EQ(config.Read("autostart/morlak.desktop"), AutostartEntryText(program, {}));

  EXPECT_TRUE(RemoveAutostartEntry());
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_TRUE(RemoveAutostartEntry());  // absent: nothing to say
}

TEST(AutostartEntryTest, UnwritableFolderFails) {
  TempFolder config;
  config.Write("autostart", "a file where the folder belongs");
  ScopedEnv env("XDG_CONFIG_HOME", config.Path().c_str());
  EXPECT_FALSE(WriteAutostartEntry(config.Write("morlak", ""), {}));
}

TEST(ProgramProcessTest, StartsTheProgramWithItsArguments) {
  TempFolder folder;
  const int pid =
      StartProgram("/bin/sh", {"-c", "echo \"$0\" > \"$1\"", "two words", folder.File("out")});
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(folder.Read("out"), "two words\n");

  std::string error;
  EXPECT_EQ(StartProgram(folder.File("missing"), {}, &error), -1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(std::filesystem::path(ExecutablePath()).filename().string(), "test_platform");
}

}  // namespace
}  // namespace morlak
