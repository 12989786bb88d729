#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/temp_folder.h"
#include "support/unreadable_file.h"

namespace morlak {
namespace {

using test_support::TempFolder;

TEST(IniFile, NamesIgnoreCaseAndValuesAreTrimmed) {
  TempFolder dir;
  dir.Write("a.ini", "[Settings]\r\n  ServerName =  My  Server \t\r\nport=80\r\n");
  IniFile ini(dir.File("a.ini"));
  EXPECT_TRUE(ini.Exists());
  EXPECT_EQ(ini.ReadString("SETTINGS", "servername", "x"), "My  Server");
  EXPECT_EQ(ini.ReadString("settings", "PORT", "x"), "80");
  EXPECT_EQ(ini.ReadString("settings", "missing", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("nosection", "port", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("settings", "servername ", "x"), "x");
}

TEST(IniFile, MissingFileReadsFallbacks) {
  TempFolder dir;
  IniFile ini(dir.File("none.ini"));
  EXPECT_FALSE(ini.Exists());
  EXPECT_FALSE(ini.ReadFailed());
  EXPECT_EQ(ini.ReadInteger("s", "k", 7), 7);
  EXPECT_TRUE(ini.ReadBool("s", "k", true));
}

TEST(IniFile, ReadsAreCutTo2047Characters) {
  TempFolder dir;
  const std::string longValue(3000, 'v');
  dir.Write("a.ini", "[s]\r\nk=" + longValue + "\r\n");
  IniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("s", "k", ""), longValue.substr(0, 2047));
  EXPECT_EQ(ini.ReadString("s", "missing", longValue).size(), 2047u);
}

TEST(IniFile, IntegerAndFlagValues) {
  struct Case {
    const char* text;
    int32_t integer;  // read with fallback -99
    bool flagFromFalse;
    bool flagFromTrue;
  };
  const Case cases[] = {
      {"0x1F", 31, true, true},       {"0X1f", 31, true, true},
      {"0x", -99, false, true},       {"12abc", -99, false, true},
      {"-5", -5, true, true},         {"+7", 7, true, true},
      {"2", 2, true, true},           {"-1", -1, true, true},
      {"0", 0, false, false},         {"true", -99, false, true},
      {"", -99, false, true},         {"2147483648", -99, false, true},
      {"0xFFFFFFFF", -1, true, true}, {"-2147483648", INT32_MIN, true, true},
  };
  // Built with append: GCC 12 gives a false -Wrestrict for "literal" + std::string.
  auto keyOf = [](size_t i) { return std::string("k").append(std::to_string(i)); };
  TempFolder dir;
  std::string text = "[s]\r\n";
  for (size_t i = 0; i < std::size(cases); ++i)
    text.append(keyOf(i)).append("= ").append(cases[i].text).append(" \r\n");
  dir.Write("a.ini", text);
  IniFile ini(dir.File("a.ini"));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string key = keyOf(i);
    SCOPED_TRACE(cases[i].text);
    EXPECT_EQ(ini.ReadInteger("s", key, -99), cases[i].integer);
    EXPECT_EQ(ini.ReadBool("s", key, false), cases[i].flagFromFalse);
    EXPECT_EQ(ini.ReadBool("s", key, true), cases[i].flagFromTrue);
  }
}

TEST(IniFile, UpdateKeepsEveryOtherLineAndWritesCrLf) {
  TempFolder dir;
  dir.Write("a.ini",
            "; comment before any section\n"
            "[General]\n"
            "Name=old\n"
            "other = kept \n"
            "\n"
            "[Second]\r\n"
            "x=1\r\n"
            "garbage line\r\n");
  IniFile ini(dir.File("a.ini"));
  ini.WriteString("general", "NAME", "new");
  ini.WriteInteger("GENERAL", "added", 5);
  ini.WriteBool("third", "flag", true);
  ini.WriteBool("second", "x", false);
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(dir.Read("a.ini"),
            "; comment before any section\r\n"
            "[General]\r\n"
            "NAME=new\r\n"
            "other = kept \r\n"
            "added=5\r\n"
            "\r\n"
            "[Second]\r\n"
            "x=0\r\n"
            "garbage line\r\n"
            "[third]\r\n"
            "flag=1\r\n");
}

TEST(IniFile, DuplicateSectionsUseTheFirst) {
  TempFolder dir;
  dir.Write("a.ini", "[s]\r\nk=first\r\n[S]\r\nk=second\r\nonly=second\r\n");
  IniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("s", "k", ""), "first");
  EXPECT_EQ(ini.ReadString("s", "only", "none"), "none");
  ini.WriteString("s", "k", "changed");
  EXPECT_EQ(ini.Text(), "[s]\r\nk=changed\r\n[S]\r\nk=second\r\nonly=second\r\n");
}

TEST(IniFile, LineBreaksInWrittenValuesCannotAddLines) {
  TempFolder dir;
  IniFile ini(dir.File("a.ini"));
  ini.WriteString("s", "name", "safe\r\n[s]\r\ninjected=1");
  ini.WriteString("s", "other", std::string("before\0after", 12));
  ASSERT_TRUE(ini.Save());
  IniFile back(dir.File("a.ini"));
  EXPECT_EQ(back.ReadString("s", "name", ""), "safe");
  EXPECT_EQ(back.ReadString("s", "other", ""), "before");
  EXPECT_FALSE(back.HasKey("s", "injected"));
  EXPECT_EQ(dir.Read("a.ini"), "[s]\r\nname=safe\r\nother=before\r\n");
}

TEST(IniFile, UnreadableFileIsNeverReplaced) {
  TempFolder dir;
  const std::string path = dir.File("a.ini");
  test_support::MakeUnreadableFile(path);
  IniFile ini(path);
  EXPECT_TRUE(ini.ReadFailed());
  EXPECT_EQ(ini.ReadString("s", "k", "fallback"), "fallback");
  ini.WriteString("s", "k", "v");
  EXPECT_FALSE(ini.Save());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

TEST(IniFile, SaveKeepsThePermissionsOfTheReplacedFile) {
  TempFolder dir;
  dir.Write("a.ini", "[s]\r\nk=1\r\n");
  ASSERT_EQ(::chmod(dir.File("a.ini").c_str(), 0600), 0);
  IniFile ini(dir.File("a.ini"));
  ini.WriteString("s", "k", "2");
  ASSERT_TRUE(ini.Save());
  struct stat st;
  ASSERT_EQ(::stat(dir.File("a.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(dir.Read("a.ini"), "[s]\r\nk=2\r\n");
}

TEST(IniFile, LeftoverTemporaryFileDoesNotDisturbReadsOrSaves) {
  TempFolder dir;
  dir.Write("a.ini", "[s]\r\nk=old\r\n");
  // What a writer killed before its rename leaves behind.
  dir.Write("a.ini.tmp12345_0", "[s]\r\nk=half-writ");
  IniFile ini(dir.File("a.ini"));
  EXPECT_EQ(ini.ReadString("s", "k", ""), "old");
  ini.WriteString("s", "k", "new");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(dir.Read("a.ini"), "[s]\r\nk=new\r\n");
}

// A writer killed at an arbitrary moment while it saves over and over must leave one
// complete version of the file, never a mixture or a truncated one.
TEST(IniFile, WriterKilledMidSaveLeavesACompleteFile) {
  TempFolder dir;
  const std::string path = dir.File("big.ini");
  auto versionText = [](char fill) {
    IniFile ini("");
    for (int i = 0; i < 2000; ++i)
      ini.WriteString("s", "key" + std::to_string(i), std::string(100, fill));
    return ini.Text();
  };
  const std::string a = versionText('a'), b = versionText('b');
  dir.Write("big.ini", a);

  for (int round = 0; round < 5; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0; i < 100000; ++i) {
        IniFile ini(path);
        const char fill = ini.ReadString("s", "key0", "") == std::string(100, 'a') ? 'b' : 'a';
        for (int k = 0; k < 2000; ++k)
          ini.WriteString("s", "key" + std::to_string(k), std::string(100, fill));
        if (!ini.Save()) ::_exit(2);
      }
      ::_exit(0);
    }
    // Let the child replace the file a few times, then kill it wherever it is.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int replacements = 0;
    std::string last = a;
    while (replacements < 3 + round && std::chrono::steady_clock::now() < deadline) {
      const std::string now = dir.Read("big.ini");
      ASSERT_TRUE(now == a || now == b) << "reader saw a partial file";
      if (now != last) ++replacements, last = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_GE(replacements, 1);
    const std::string after = dir.Read("big.ini");
    EXPECT_TRUE(after == a || after == b) << "file size " << after.size();
    IniFile reread(path);
    EXPECT_EQ(reread.ReadString("s", "key1999", "").size(), 100u);
  }
}

}  // namespace
}  // namespace morlak
