#include <gtest/gtest.h>

#include "stores/domain_aliases.h"
#include "stores/root_aliases.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::TempFolder;

struct Lookup {
  bool found;
  std::string document;
  std::string directory;
};

Lookup FindRoot(RootAliasStore& store, std::string document) {
  std::string directory = "unchanged";
  const bool found = store.FindRootAlias(document, directory);
  return {found, document, directory};
}

TEST(RootAliasTest, FirstMatchingRowWinsAndLosesAllButItsFirstCharacter) {
  RootAliasStore store;
  ASSERT_TRUE(store.AddRootAlias("/a", "/srv/a"));
  ASSERT_TRUE(store.AddRootAlias("/ab", "/srv/ab"));
  ASSERT_TRUE(store.AddRootAlias("/music/", "/srv/music"));
  const struct {
    const char* document;
    Lookup expected;
  } cases[] = {
      {"/abc", {true, "/bc", "/srv/a"}},
      {"/ab", {true, "/b", "/srv/a"}},
      {"/A/x.html", {true, "//x.html", "/srv/a"}},
      {"/music/a.mp3", {true, "/a.mp3", "/srv/music"}},
      {"/MUSIC/", {true, "/", "/srv/music"}},
      {"/musi", {false, "/musi", "unchanged"}},  // shorter than the alias
      {"/b", {false, "/b", "unchanged"}},
      {"", {false, "", "unchanged"}},
      {"a", {false, "a", "unchanged"}},
  };
  for (const auto& c : cases) {
    const Lookup got = FindRoot(store, c.document);
    EXPECT_EQ(got.found, c.expected.found) << c.document;
    EXPECT_EQ(got.document, c.expected.document) << c.document;
    EXPECT_EQ(got.directory, c.expected.directory) << c.document;
  }
}

TEST(RootAliasTest, ShortDocumentFailsOnlyThatRow) {
  RootAliasStore store;
  store.AddRootAlias("/documents", "/long");
  store.AddRootAlias("/", "/root");
  const Lookup got = FindRoot(store, "/doc");
  EXPECT_TRUE(got.found);
  EXPECT_EQ(got.directory, "/root");
  EXPECT_EQ(got.document, "/doc");  // a one-character alias removes nothing
}

TEST(RootAliasTest, KeysDifferingInCaseCoexistButOnlyTheFirstIsFound) {
  RootAliasStore store;
  ASSERT_TRUE(store.AddRootAlias("/music", "/lower"));
  EXPECT_FALSE(store.AddRootAlias("/music", "/again"));
  ASSERT_TRUE(store.AddRootAlias("/Music", "/upper"));
  EXPECT_EQ(store.IndexOfRootAlias("/Music"), 1);
  EXPECT_EQ(store.IndexOfRootAlias("/MUSIC"), -1);
  for (const char* document : {"/Music/a", "/music/a", "/MUSIC/a"})
    EXPECT_EQ(FindRoot(store, document).directory, "/lower") << document;
}

TEST(RootAliasTest, EditingOperations) {
  RootAliasStore store;
  store.AddRootAlias("/a", "/1");
  store.AddRootAlias("/b", "/2");
  store.AddRootAlias("/c", "/3");
  EXPECT_TRUE(store.ModifyRootAlias(2, "/a", "/dup"));  // no uniqueness check
  EXPECT_FALSE(store.ModifyRootAlias(3, "/x", "/x"));
  EXPECT_FALSE(store.ModifyRootAlias(-1, "/x", "/x"));
  EXPECT_EQ(store.ListRootAliases().lines,
            (std::vector<std::string>{"/a||/1||", "/b||/2||", "/a||/dup||"}));

  EXPECT_FALSE(store.DeleteRootAlias("/zzz"));
  EXPECT_TRUE(store.DeleteRootAlias("/a"));  // the first of the two
  EXPECT_EQ(store.ListRootAliases().lines, (std::vector<std::string>{"/b||/2||", "/a||/dup||"}));

  std::string alias = "keep", directory = "keep";
  EXPECT_FALSE(store.GetRootAlias(2, alias, directory));
  EXPECT_EQ(alias + directory, "keepkeep");
  EXPECT_TRUE(store.GetRootAlias(1, alias, directory));
  EXPECT_EQ(alias + " " + directory, "/a /dup");
}

TEST(RootAliasTest, FileLinesAreParsedByTheirSemicolons) {
  TempFolder folder;
  folder.Write("httprootaliases.lst",
               "/m;/srv/m;rest;ignored\r\n\r\n/one;/x\r\nD:\\x\r\n/late;/srv/late;\n");
  RootAliasStore store;
  ASSERT_TRUE(store.LoadRootAliases(folder.Path()));
  EXPECT_EQ(store.ListRootAliases().lines,
            (std::vector<std::string>{"/m||/srv/m||", "/one||||", "||||", "/late||/srv/late||"}));

  // The keyless row matches everything after the rows before it.
  Lookup got = FindRoot(store, "/late/x");
  EXPECT_TRUE(got.found);
  EXPECT_EQ(got.directory, "");
  EXPECT_EQ(got.document, "/late/x");
  got = FindRoot(store, "/m/x");
  EXPECT_EQ(got.directory, "/srv/m");
}

TEST(RootAliasTest, LoadAppendsAndSaveRoundTripsByteForByte) {
  TempFolder in, out;
  const std::string text = "/music;D:\\Music\\;\r\n/;/srv/root;\r\n;;\r\n/docs;/srv/d o c s;\r\n";
  in.Write("httprootaliases.lst", text);
  RootAliasStore store;
  ASSERT_TRUE(store.LoadRootAliases(in.Path()));
  ASSERT_TRUE(store.SaveRootAliases(out.Path()));
  EXPECT_EQ(out.Read("httprootaliases.lst"), text);

  ASSERT_TRUE(store.LoadRootAliases(in.Path()));
  EXPECT_EQ(store.ListRootAliases().Count(), 8u);

  RootAliasStore empty;
  EXPECT_FALSE(empty.LoadRootAliases(out.File("missing/")));
  EXPECT_TRUE(empty.SaveRootAliases(out.Path()));
  EXPECT_EQ(out.Read("httprootaliases.lst"), "");
  EXPECT_FALSE(empty.SaveRootAliases(out.File("missing/")));
}

TEST(DomainAliasTest, HostPrefixMatchesWithoutRegardToCase) {
  DomainAliasStore store;
  ASSERT_TRUE(store.AddDomainAlias("intranet", "/srv/intra"));
  ASSERT_TRUE(store.AddDomainAlias("www.", "/srv/www"));
  const struct {
    const char* host;
    bool found;
    const char* directory;
  } cases[] = {
      {"intranet", true, "/srv/intra"},
      {"INTRANET:8080", true, "/srv/intra"},
      {"intranet2.lan", true, "/srv/intra"},
      {"WWW.example.org", true, "/srv/www"},
      {"intra", false, "unchanged"},
      {"my.intranet", false, "unchanged"},
      {"", false, "unchanged"},
  };
  for (const auto& c : cases) {
    std::string directory = "unchanged";
    EXPECT_EQ(store.FindDomainAlias(c.host, directory), c.found) << c.host;
    EXPECT_EQ(directory, c.directory) << c.host;
  }
}

TEST(DomainAliasTest, OwnFileAndRoundTrip) {
  TempFolder folder;
  const std::string text = "intranet;/srv/intra;\r\nlocalhost;/srv/local;\r\n";
  folder.Write("httpdomainaliases.lst", text);
  DomainAliasStore store;
  ASSERT_TRUE(store.LoadDomainAliases(folder.Path()));
  EXPECT_EQ(store.IndexOfDomainAlias("localhost"), 1);
  EXPECT_TRUE(store.ModifyDomainAlias(1, "localhost", "/other"));
  EXPECT_TRUE(store.DeleteDomainAlias("intranet"));
  std::string host, directory;
  EXPECT_TRUE(store.GetDomainAlias(0, host, directory));
  EXPECT_EQ(host + directory, "localhost/other");
  EXPECT_EQ(store.ListDomainAliases().lines, std::vector<std::string>{"localhost||/other||"});
  ASSERT_TRUE(store.SaveDomainAliases(folder.Path()));
  EXPECT_EQ(folder.Read("httpdomainaliases.lst"), "localhost;/other;\r\n");
  EXPECT_EQ(folder.Read("httprootaliases.lst"), "");  // the root file is not touched
}

}  // namespace
}  // namespace morlak
