#include "stores/server_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/text.h"
#include "stores/mime_defaults.h"
#include "support/temp_folder.h"
#include "support/unreadable_file.h"

namespace morlak {
namespace {

using test_support::TempFolder;

class ServerSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { settings.InitSettingsDefaults(dir.Path()); }

  // Settings file text of section "settings" only, for the value-rule tests.
  void WriteSettings(const std::string& lines) {
    dir.Write(ServerSettings::kSettingsFileName, "[settings]\r\n" + lines);
  }

  TempFolder dir;
  ServerSettings settings;
};

TEST(ListText, ConversionsKeepItemsAndDropTextAfterTheLastSemicolon) {
  struct Case {
    const char* text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {}},
      {";", {""}},
      {"a;b", {"a"}},
      {"index.html;default.htm;", {"index.html", "default.htm"}},
      {"a;;b;", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TextToList(c.text), c.items);
  }
  EXPECT_EQ(ListToText({"a", "", "b"}), "a;;b;");
  EXPECT_EQ(ListToText({}), "");
}

TEST_F(ServerSettingsTest, DefaultsAreWrittenInFileOrder) {
  ServerSettings fresh;
  fresh.InitSettingsDefaults(dir.Path().substr(0, dir.Path().size() - 1));  // no final "/"
  ASSERT_TRUE(fresh.SaveSettings());
  const std::string& folder = dir.Path();
  EXPECT_EQ(dir.Read("httpsettings.lst"),
            "[httpsettings]\r\ntop=100\r\nleft=100\r\nwidth=569\r\nheight=408\r\n"
            "[rootaliassection]\r\nwidth1=95\r\nwidth2=150\r\n"
            "[domainaliassection]\r\nwidth1=95\r\nwidth2=150\r\n"
            "[settings]\r\n"
            "mainpath=" +
                folder +
                "\r\n"
                "startonstartup=0\r\nstartminimized=0\r\nstartonwindows=0\r\n"
                "maxconnections=0\r\nsessiontimeout=60000\r\ndefaultfile=index.html;\r\n"
                "homedirectory=" +
                folder +
                "http/public/\r\n"
                "templatedirectory=" +
                folder +
                "http/templates\r\n"
                "servername=My Web Server\r\nadminemail=<webmaster@localhost>\r\n"
                "filenotfound=filenotfound.html\r\nunauthorized=unauthorized.html\r\n"
                "loginsuccesfull=loginsuccesfull.html\r\nlogoutsuccesfull=logoutsuccesfull.html\r\n"
                "loginfailed=loginfailed.html\r\nreplacedata=1\r\nphpcompiler=/usr/bin/php-cgi\r\n"
                "phpextensions=.php;\r\nenablecgiapplications=1\r\ncgialias=/cgi-bin/\r\n"
                "enableisapilibraries=0\r\nisapialias=/cgi-bin/\r\ncerthttp=1\r\ncerthttps=0\r\n"
                "certssl=1\r\ncerttls=0\r\ncertpassword=wq7rzkpe\r\ncertcheckpeer=0\r\n"
                "certcheckvalid=0\r\ncertsubject=\r\ncertroot=\r\ncertcert=\r\ncertkey=\r\n"
                "enablerootaliases=0\r\nenabledomainaliases=0\r\nbanned=\r\nreadspeed=0\r\n"
                "writespeed=0\r\nphpinipath=/etc/php/\r\nhttpport=80\r\nhttpsport=443\r\n"
                "maxloglines=1000\r\nlogextensions=\r\nlogtofile=0\r\n"
                "logfilename=" +
                folder +
                "weblog.txt\r\n"
                "nocloseconfirmation=1\r\nredirect=\r\nlogtofilelines=0\r\n"
                "keepalive=1\r\nkeepalivetimeout=5\r\nmaxsessions=100000\r\n");
  std::string mimeFile;
  for (const auto row : kBuiltInMimeRows) mimeFile.append(row).append("\r\n");
  EXPECT_EQ(dir.Read("httpmimelist.lst"), mimeFile);
}

TEST_F(ServerSettingsTest, BuiltInMimeTableHas135DistinctExtensions) {
  const std::vector<std::string> rows = TextToList(settings.Get().mimeList);
  ASSERT_EQ(rows.size(), 135u);
  EXPECT_EQ(rows.front(), ".aiff=audio/x-aiff");
  EXPECT_EQ(rows.back(), ".sgml=text/sgml");
  CaseInsensitiveSet extensions;
  for (const auto& row : rows) {
    ASSERT_EQ(row.front(), '.') << row;
    ASSERT_NE(row.find('='), std::string::npos) << row;
    EXPECT_TRUE(extensions.insert(NameOfLine(row)).second) << "duplicate " << row;
    EXPECT_EQ(settings.GetContentType(NameOfLine(row)), ValueOfLine(row));
  }
}

TEST_F(ServerSettingsTest, SavedFilesLoadBackAndSaveToTheSameBytes) {
  SettingsValues v = settings.Get();
  v.startOnStartup = v.startMinimized = v.startOnWindows = true;
  v.maxConnections = 25;
  v.sessionTimeout = -1;
  v.defaultFile = "index.html;default.htm;";
  v.homeDirectory = "/srv/www/";
  v.templateDirectory = "/srv/templates";
  v.serverName = "Test server";
  v.adminEmail = "<admin@example.org>";
  v.fileNotFound = "404.html";
  v.unauthorized = "401.html";
  v.loginSuccesfull = "in.html";
  v.logoutSuccesfull = "out.html";
  v.loginFailed = "failed.html";
  v.replaceData = false;
  v.phpCompiler = "/opt/php/bin/php-cgi";
  v.phpExtensions = ".php;.php5;";
  v.enableCgiApplications = false;
  v.cgiAlias = "/cgi/";
  v.enableIsapiLibraries = true;
  v.isapiAlias = "/isapi/";
  v.certHttp = false;
  v.certHttps = true;
  v.certSsl = false;
  v.certTls = true;
  v.certPassword = "secret";
  v.certCheckPeer = v.certCheckValid = true;
  v.certSubject = "CN=client";
  v.certRoot = "/certs/root.pem";
  v.certCert = "/certs/cert.pem";
  v.certKey = "/certs/key.pem";
  v.enableRootAliases = v.enableDomainAliases = true;
  v.banned = "10.0.0.1;192.168.1.7;";
  v.readSpeed = 1000;
  v.writeSpeed = 2000;
  v.phpIniPath = "/etc/php/8.2/cgi";
  v.httpPort = 8080;
  v.httpsPort = 8443;
  v.maxLogLines = 50;
  v.logExtensions = ".gif;.jpg;";
  v.logToFile = false;
  v.logFileName = "/var/log/morlak.txt";
  v.noCloseConfirmation = false;
  v.redirect = "/old.html=/new.html;";
  v.logToFileLines = 3;
  v.mimeList = ".html=text/html;.txt=text/plain;";
  settings.Set(v);
  SettingsDialogGeometry g{1, 2, 300, 200, 10, 20, 30, 40};
  settings.SetDialogGeometry(g);
  ASSERT_TRUE(settings.SaveSettings());
  const std::string settingsBytes = dir.Read("httpsettings.lst");
  const std::string mimeBytes = dir.Read("httpmimelist.lst");
  EXPECT_EQ(mimeBytes, ".html=text/html\r\n.txt=text/plain\r\n");

  ServerSettings loaded;
  loaded.InitSettingsDefaults(dir.Path());
  ASSERT_TRUE(loaded.LoadSettings());
  EXPECT_TRUE(loaded.Get() == v);
  EXPECT_EQ(loaded.GetDialogGeometry(), g);
  ASSERT_TRUE(loaded.SaveSettings());
  EXPECT_EQ(dir.Read("httpsettings.lst"), settingsBytes);
  EXPECT_EQ(dir.Read("httpmimelist.lst"), mimeBytes);
}

TEST_F(ServerSettingsTest, ValueRules) {
  const std::string longName(3000, 'n');
  WriteSettings(
      "mainpath=/somewhere/else/\r\n"
      "maxconnections=0x1F\r\n"
      "sessiontimeout=12abc\r\n"
      "httpport= 8080 \r\n"
      "servername=" +
      longName +
      "\r\n"
      "startonstartup=2\r\n"
      "startminimized=-1\r\n"
      "certhttps=true\r\n"
      "nocloseconfirmation=yes\r\n"
      "CertHttp=0\r\n"
      "defaultfile=index.html;default.htm;\r\n"
      "phpextensions=.php;.php5\r\n"
      "banned=10.0.0.1\r\n");
  settings.LoadSettings();
  const SettingsValues v = settings.Get();
  EXPECT_EQ(v.mainPath, dir.Path());
  EXPECT_EQ(v.maxConnections, 31);
  EXPECT_EQ(v.sessionTimeout, 60000);
  EXPECT_EQ(v.httpPort, 8080);
  EXPECT_EQ(v.serverName, longName.substr(0, 2047));
  EXPECT_TRUE(v.startOnStartup);
  EXPECT_TRUE(v.startMinimized);
  EXPECT_FALSE(v.certHttps);
  EXPECT_TRUE(v.noCloseConfirmation);
  EXPECT_FALSE(v.certHttp);
  EXPECT_EQ(settings.GetDefaultFiles(), (std::vector<std::string>{"index.html", "default.htm"}));
  EXPECT_TRUE(settings.IsPhpExtension(".php"));
  EXPECT_FALSE(settings.IsPhpExtension(".php5"));
  EXPECT_FALSE(settings.IsBannedAddress("10.0.0.1"));
  EXPECT_EQ(v.replaceData, true);  // missing key keeps the default
}

TEST_F(ServerSettingsTest, MissingMimeListKeepsTheBuiltInTable) {
  WriteSettings("servername=Loaded\r\n");
  EXPECT_FALSE(settings.LoadSettings());
  EXPECT_EQ(settings.GetServerName(), "Loaded");
  EXPECT_EQ(TextToList(settings.Get().mimeList).size(), 135u);
  EXPECT_EQ(settings.GetContentType(".gif"), "image/gif");
}

TEST_F(ServerSettingsTest, EmptyMimeListGivesNoTypes) {
  dir.Write("httpmimelist.lst", "");
  EXPECT_TRUE(settings.LoadSettings());
  EXPECT_EQ(settings.Get().mimeList, "");
  EXPECT_EQ(settings.GetContentType(".html"), "");
}

TEST_F(ServerSettingsTest, MissingSettingsFileKeepsDefaults) {
  dir.Write("httpmimelist.lst", ".x=y/z\r\n");
  EXPECT_TRUE(settings.LoadSettings());
  SettingsValues expected;
  {
    ServerSettings defaults;
    defaults.InitSettingsDefaults(dir.Path());
    expected = defaults.Get();
  }
  expected.mimeList = ".x=y/z;";
  EXPECT_TRUE(settings.Get() == expected);
}

TEST_F(ServerSettingsTest, UnreadableSettingsFileChangesNothingAndIsNotReplaced) {
  test_support::MakeUnreadableFile(dir.File("httpsettings.lst"));
  dir.Write("httpmimelist.lst", ".x=y/z\r\n");
  const SettingsValues before = settings.Get();
  EXPECT_FALSE(settings.LoadSettings());
  EXPECT_TRUE(settings.Get() == before);
  EXPECT_FALSE(settings.SaveSettings());
  EXPECT_EQ(dir.Read("httpmimelist.lst"), ".x=y/z\r\n");
}

TEST_F(ServerSettingsTest, SaveIntoAMissingFolderFails) {
  ServerSettings elsewhere;
  elsewhere.InitSettingsDefaults(dir.File("missing/"));
  EXPECT_FALSE(elsewhere.SaveSettings());
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST_F(ServerSettingsTest, SaveKeepsForeignLinesOfTheSettingsFile) {
  dir.Write("httpsettings.lst",
            "; kept comment\r\n[Settings]\r\nServerName=old\r\nfuture=kept\r\n\r\n"
            "[other]\r\nx=1\r\n");
  ASSERT_TRUE(settings.SaveSettings());
  const std::string text = dir.Read("httpsettings.lst");
  EXPECT_EQ(
      text.rfind("; kept comment\r\n[Settings]\r\nservername=My Web Server\r\nfuture=kept\r\n", 0),
      0u);
  EXPECT_NE(text.find("\r\n[other]\r\nx=1\r\n"), std::string::npos);
  EXPECT_EQ(text.find("[settings]"), std::string::npos);  // no second section
}

TEST_F(ServerSettingsTest, ContentTypeLookup) {
  struct Case {
    const char* ext;
    const char* type;
  };
  const Case cases[] = {
      {".html", "text/html"},
      {".HTML", "text/html"},
      {".Gz", "application/x-gzip"},
      {".nope", ""},
      {"", ""},
      {"html", ""},
      {".html ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ext);
    EXPECT_EQ(settings.GetContentType(c.ext), c.type);
  }
}

TEST_F(ServerSettingsTest, MimeRowsSortFirstWinsAndRowsWithoutEqualsAreSkipped) {
  SettingsValues v = settings.Get();
  v.mimeList = ".x=b/second;junk;.X=a/first;.y=;";
  settings.Set(v);
  EXPECT_EQ(settings.GetContentType(".x"), "a/first");
  EXPECT_EQ(settings.GetContentType("junk"), "");
  EXPECT_EQ(settings.GetContentType(".y"), "");
}

TEST_F(ServerSettingsTest, MimeTypeWithSemicolonSplitsWhenStored) {
  SettingsValues v = settings.Get();
  v.mimeList = ListToText({".txt=text/plain; charset=utf-8", ".css=text/css"}) + ".lost=a/b";
  settings.Set(v);
  EXPECT_EQ(settings.GetContentType(".txt"), "text/plain");
  EXPECT_EQ(settings.GetContentType(".css"), "text/css");
  EXPECT_EQ(settings.GetContentType(".lost"), "");
  ASSERT_TRUE(settings.SaveSettings());
  EXPECT_EQ(dir.Read("httpmimelist.lst"), ".txt=text/plain\r\n charset=utf-8\r\n.css=text/css\r\n");

  dir.Write("httpmimelist.lst", ".svg=image/svg+xml; charset=x\r\n");
  ASSERT_TRUE(settings.LoadSettings());
  EXPECT_EQ(settings.Get().mimeList, ".svg=image/svg+xml; charset=x;");
  EXPECT_EQ(settings.GetContentType(".svg"), "image/svg+xml");
}

TEST_F(ServerSettingsTest, Redirects) {
  SettingsValues v = settings.Get();
  v.redirect = "/old.html=/new.html;/empty=;/a=/target;/d=/z;/D=/b;/nothing;";
  settings.Set(v);
  struct Case {
    const char* document;
    const char* target;
  };
  const Case cases[] = {
      {"/old.html", "/new.html"},
      {"/OLD.HTML", "/new.html"},
      {"/empty", "/empty"},
      {"/a", "/target"},
      {"/a/b", "/a/b"},
      {"/a/", "/a/"},
      {"/d", "/b"},
      {"/nothing", "/nothing"},
      {"/none", "/none"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(settings.ResolveRedirect(c.document), c.target);
  }
}

TEST_F(ServerSettingsTest, ItemTestsMatchWholeItemsWithoutRegardToCase) {
  SettingsValues v = settings.Get();
  v.banned = "10.0.0.10;10.0.0.*;Host.Example;";
  v.phpExtensions = ".php;.PHTML;";
  v.logExtensions = ".gz;.jpg;";
  settings.Set(v);
  EXPECT_FALSE(settings.IsBannedAddress("10.0.0.1"));
  EXPECT_TRUE(settings.IsBannedAddress("10.0.0.10"));
  EXPECT_TRUE(settings.IsBannedAddress("10.0.0.*"));
  EXPECT_FALSE(settings.IsBannedAddress(" 10.0.0.10"));
  EXPECT_TRUE(settings.IsBannedAddress("host.example"));
  EXPECT_TRUE(settings.IsPhpExtension(".PHP"));
  EXPECT_TRUE(settings.IsPhpExtension(".phtml"));
  EXPECT_FALSE(settings.IsPhpExtension("php"));
  EXPECT_FALSE(settings.IsPhpExtension(""));

  struct Case {
    const char* fileName;
    bool excluded;
  };
  const Case cases[] = {
      {"/www/archive.tar.gz", true}, {"archive.tar", false}, {"/www/PHOTO.JPG", true},
      {"/www/dir.gz/readme", false}, {"/www/noext", false},  {"/www/.gz", true},
      {"/www/a.gz.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileName);
    EXPECT_EQ(settings.IsExcludedFromLog(c.fileName), c.excluded);
  }
}

TEST_F(ServerSettingsTest, SetKeepsTheProgramFolderAndDefaultsResetEverything) {
  SettingsValues v = settings.Get();
  v.mainPath = "/elsewhere/";
  v.banned = "1.2.3.4;";
  settings.Set(v);
  EXPECT_EQ(settings.GetMainPath(), dir.Path());
  EXPECT_TRUE(settings.IsBannedAddress("1.2.3.4"));
  settings.SetDialogGeometry({5, 6, 7, 8, 9, 10, 11, 12});
  settings.InitSettingsDefaults(dir.Path());
  EXPECT_FALSE(settings.IsBannedAddress("1.2.3.4"));
  EXPECT_EQ(settings.GetDialogGeometry(), SettingsDialogGeometry{});
}

// Readers keep the snapshot they last saw: a change must reach every thread at its next
// read, one instance's values must never answer for another's, and a request holding a
// snapshot keeps reading the values it started with.
TEST_F(ServerSettingsTest, ChangesReachEveryReaderAndHeldSnapshotsStayWhole) {
  ServerSettings other;
  other.InitSettingsDefaults(dir.Path() + "other/");
  const std::shared_ptr<const SettingsSnapshot> held = settings.Current();
  std::string seenByWorker;
  std::thread([&] { seenByWorker = settings.GetHomeDirectory(); }).join();

  SettingsValues v = settings.Get();
  v.homeDirectory = "/changed/";
  v.phpExtensions = ".phtml;";
  settings.Set(v);
  EXPECT_EQ(seenByWorker, dir.Path() + "http/public/");
  std::thread([&] { seenByWorker = settings.GetHomeDirectory(); }).join();
  EXPECT_EQ(seenByWorker, "/changed/");
  EXPECT_EQ(settings.GetHomeDirectory(), "/changed/");
  EXPECT_EQ(other.GetHomeDirectory(), dir.Path() + "other/http/public/");
  EXPECT_TRUE(settings.IsPhpExtension(".PHTML"));
  EXPECT_FALSE(other.IsPhpExtension(".phtml"));
  EXPECT_EQ(held->Values().homeDirectory, dir.Path() + "http/public/");
  EXPECT_TRUE(held->IsPhpExtension(".php"));
}

TEST_F(ServerSettingsTest, DialogGeometryIsReadFromItsSections) {
  dir.Write("httpsettings.lst",
            "[HttpSettings]\r\ntop=11\r\nleft=22\r\nwidth=333\r\nheight=bad\r\n"
            "[domainaliassection]\r\nwidth2=77\r\n");
  settings.LoadSettings();
  SettingsDialogGeometry expected;
  expected.top = 11;
  expected.left = 22;
  expected.width = 333;
  expected.domainAliasWidth2 = 77;
  EXPECT_EQ(settings.GetDialogGeometry(), expected);
}

}  // namespace
}  // namespace morlak
