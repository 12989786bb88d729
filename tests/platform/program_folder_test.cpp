#include "platform/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::ScopedEnv;
using test_support::TempFolder;
namespace fs = std::filesystem;

TEST(ProgramFolderTest, DataDirThenWritableExecutableFolderThenUserFolder) {
  struct Case {
    const char* dataDir;
    bool writable;
    const char* xdgDataHome;
    const char* home;
    std::string folder;
    bool seed;
  } cases[] = {
      {"/srv/site", false, "/x", "/home/u", "/srv/site/", true},
      {"/srv/site/", true, "/x", "/home/u", "/srv/site/", true},
      {"", true, "/x", "/home/u", "/opt/build/", false},  // a build keeps its own folder
      {"", false, "/x/data", "/home/u", "/x/data/morlak/", true},
      {"", false, nullptr, "/home/u", "/home/u/.local/share/morlak/", true},
      {"", false, "relative", "/home/u", "/home/u/.local/share/morlak/", true},
      {"", false, nullptr, nullptr, "", true},
  };
  for (const Case& c : cases) {
    ScopedEnv data("XDG_DATA_HOME", c.xdgDataHome);
    ScopedEnv home("HOME", c.home);
    const ProgramFolderChoice choice = ChooseProgramFolder(c.dataDir, "/opt/build", c.writable);
    EXPECT_EQ(choice.folder, c.folder) << c.dataDir << " " << c.writable;
    EXPECT_EQ(choice.seed, c.seed) << c.folder;
  }
  EXPECT_EQ(SharedDataFolder("/usr/bin/"), "/usr/share/morlak/");
  TempFolder temp;
  EXPECT_TRUE(IsWritableFolder(temp.Path()));
  EXPECT_FALSE(IsWritableFolder(temp.File("missing")));
}

TEST(ProgramFolderTest, SeedsANewFolderOnceAndNeverOverwritesTheUsersFiles) {
  TempFolder temp;
  const std::string shared = temp.MakeFolder("share/morlak");
  temp.Write("share/morlak/http/public/index.html", "welcome");
  temp.WriteProgram("share/morlak/http/public/cgi-bin/info", "#!/bin/sh\n");
  // The package keeps the sample library under lib/ and links it into the site.
  const std::string library = temp.Write("lib/morlak/serverinfo.dll", "ELF");
  fs::create_symlink(library, shared + "http/public/cgi-bin/serverinfo.dll");

  const std::string user = temp.Path() + "home/.local/share/morlak/";
  ASSERT_EQ(SeedProgramFolder(user, shared), "");
  EXPECT_EQ(temp.Read("home/.local/share/morlak/http/public/index.html"), "welcome");
  EXPECT_EQ(fs::status(user + "http/public/cgi-bin/info").permissions() & fs::perms::owner_exec,
            fs::perms::owner_exec);
  EXPECT_FALSE(fs::is_symlink(user + "http/public/cgi-bin/serverinfo.dll"));
  EXPECT_EQ(temp.Read("home/.local/share/morlak/http/public/cgi-bin/serverinfo.dll"), "ELF");

  // The user edits the page and removes the program; the next start leaves both so.
  temp.Write("home/.local/share/morlak/http/public/index.html", "mine");
  fs::remove(user + "http/public/cgi-bin/info");
  ASSERT_EQ(SeedProgramFolder(user, shared), "");
  EXPECT_EQ(temp.Read("home/.local/share/morlak/http/public/index.html"), "mine");
  EXPECT_FALSE(fs::exists(user + "http/public/cgi-bin/info"));

  // Without a shared folder (a build) the folder is made and stays empty.
  const std::string empty = temp.Path() + "empty/";
  EXPECT_EQ(SeedProgramFolder(empty, temp.Path() + "no-share/"), "");
  EXPECT_TRUE(fs::is_directory(empty) && fs::is_empty(empty));
  // A folder that cannot be made is reported.
  EXPECT_NE(SeedProgramFolder(temp.File("share/morlak/http/public/index.html") + "/x/", shared),
            "");
}

TEST(ProgramFolderTest, UserGuideBesideTheBuildThenInTheDocsThenInTheSite) {
  TempFolder temp;
  const std::string bin = temp.MakeFolder("usr/bin");
  const std::string data = temp.MakeFolder("data");
  // None exists: the build's place is named.
  EXPECT_EQ(UserGuideFile(bin, data), bin + "guide/index.html");
  temp.Write("data/http/public/guide/index.html", "site");
  EXPECT_EQ(UserGuideFile(bin, data), data + "http/public/guide/index.html");
  temp.Write("usr/share/doc/morlak/guide/index.html", "docs");
  EXPECT_EQ(UserGuideFile(bin, data), temp.Path() + "usr/share/doc/morlak/guide/index.html");
  temp.Write("usr/bin/guide/index.html", "build");
  EXPECT_EQ(UserGuideFile(bin, data), bin + "guide/index.html");
}

}  // namespace
}  // namespace morlak
