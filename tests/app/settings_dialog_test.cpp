#include "app/settings_dialog.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <filesystem>
#include <functional>

#include "app/settings/page_widgets.h"
#include "platform/ini_file.h"
#include "settings_test_fixture.h"

namespace morlak::test_support {
namespace {

using SettingsDialogTest = SettingsDialogFixture;

const char* const kTextKeys[] = {
    "servername",       "adminemail",  "filenotfound",  "unauthorized",      "loginsuccesfull",
    "logoutsuccesfull", "loginfailed", "homedirectory", "templatedirectory", "phpcompiler",
    "phpinipath",       "cgialias",    "isapialias",    "certpassword",      "certsubject",
    "certroot",         "certcert",    "certkey",       "logfilename"};
const char* const kNumberKeys[] = {"maxconnections", "sessiontimeout", "readspeed",
                                   "writespeed",     "httpport",       "httpsport",
                                   "maxloglines",    "logtofilelines"};
const char* const kFlagKeys[] = {"startonstartup",
                                 "startminimized",
                                 "startonwindows",
                                 "replacedata",
                                 "enablecgiapplications",
                                 "enableisapilibraries",
                                 "certhttp",
                                 "certhttps",
                                 "certcheckpeer",
                                 "certcheckvalid",
                                 "enablerootaliases",
                                 "enabledomainaliases",
                                 "logtofile",
                                 "nocloseconfirmation"};
const char* const kListKeys[] = {"defaultfile", "phpextensions", "banned", "logextensions"};

std::string Stored(const std::string& folder, const char* key) {
  return IniFile(folder + "httpsettings.lst").ReadString("settings", key, "<missing>");
}

TEST_F(SettingsDialogTest, EveryControlRoundTripsItsSettingThroughApplyAndTheFile) {
  Open();
  std::map<std::string, std::string> expected;
  for (const char* key : kTextKeys) {
    Control<QLineEdit>(key)->setText(QString("v-") + key);
    expected[key] = std::string("v-") + key;
  }
  int n = 1;
  for (const char* key : kNumberKeys) {
    Control<NumberEdit>(key)->setText(QString::number(n * 1111));
    expected[key] = std::to_string(n++ * 1111);
  }
  for (const char* key : kFlagKeys) {
    auto* box = Control<QCheckBox>(key);
    box->setChecked(!box->isChecked());
    expected[key] = box->isChecked() ? "1" : "0";
  }
  Control<QRadioButton>("certtls")->setChecked(true);
  expected["certssl"] = "0";
  expected["certtls"] = "1";
  for (const char* key : kListKeys) {
    auto* list = Control<ListEditor>(key);
    list->List()->clear();
    for (const char* item : {"a", "b"}) {
      list->Field()->setText(QString(key) + item);
      QTest::mouseClick(list->AddButton(), Qt::LeftButton);
    }
    expected[key] = std::string(key) + "a;" + key + "b;";
  }
  Control<QLineEdit>("redirectDocument")->setText("/old");
  Control<QLineEdit>("redirectTarget")->setText("/new");
  Click("redirectAdd");
  expected["redirect"] = "/old=/new;";

  Click("apply");
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(prompts.errors.empty());
  for (const auto& [key, value] : expected)
    EXPECT_EQ(Stored(data.Path(), key.c_str()), value) << key;

  // A new start reads the file back into the same controls.
  StartCore();
  Open();
  for (const char* key : kTextKeys)
    EXPECT_EQ(Control<QLineEdit>(key)->text().toStdString(), expected[key]) << key;
  for (const char* key : kNumberKeys)
    EXPECT_EQ(Control<NumberEdit>(key)->text().toStdString(), expected[key]) << key;
  for (const char* key : kFlagKeys)
    EXPECT_EQ(Control<QCheckBox>(key)->isChecked(), expected[key] == "1") << key;
  EXPECT_TRUE(Control<QRadioButton>("certtls")->isChecked());
  EXPECT_FALSE(Control<QRadioButton>("certssl")->isChecked());
  for (const char* key : kListKeys)
    EXPECT_EQ(Control<ListEditor>(key)->ListText(), expected[key]) << key;
  EXPECT_EQ(Control<QListWidget>("redirect")->item(0)->text(), "/old=/new");
}

TEST_F(SettingsDialogTest, NumberFieldsTakeOnlyTheirKeysAndReadZeroWithoutANumber) {
  Open();
  auto* field = Control<NumberEdit>("maxconnections");
  const struct {
    const char* typed;
    const char* text;
    int value;
  } cases[] = {{"4a2 x", "42", 42}, {"-7", "-7", -7}, {"+-12", "+-12", 0}, {"", "", 0}};
  for (const auto& c : cases) {
    field->clear();
    QTest::keyClicks(field, c.typed);
    EXPECT_EQ(field->text(), c.text) << c.typed;
    EXPECT_EQ(field->Value(), c.value) << c.typed;
  }
  Click("apply");
  EXPECT_EQ(Stored(data.Path(), "maxconnections"), "0");
}

TEST_F(SettingsDialogTest, MimeRowsAreShownLowerCaseAndStoredAsTyped) {
  data.Write("httpmimelist.lst", ".HTM=text/html\r\n.txt=text/plain\r\n");
  StartCore();
  const SettingsValues before = core->Settings().Get();
  Open();
  auto* grid = Control<QTableWidget>("mimelist");
  ASSERT_EQ(grid->rowCount(), 2);
  EXPECT_EQ(grid->item(0, 0)->text(), ".htm");

  // Apply without changes rewrites the same values, the extensions lower-case.
  Click("apply");
  SettingsValues after = core->Settings().Get();
  EXPECT_EQ(after.mimeList, ".htm=text/html;.txt=text/plain;");
  after.mimeList = before.mimeList;
  EXPECT_EQ(after, before);

  Open();
  Click("mimeAdd");
  grid->item(2, 0)->setText(".XYZ");
  grid->item(2, 1)->setText("application/x-xyz");
  Click("apply");
  EXPECT_EQ(data.Read("httpmimelist.lst"),
            ".htm=text/html\r\n.txt=text/plain\r\n.XYZ=application/x-xyz\r\n");
  EXPECT_EQ(core->Settings().GetContentType(".xyz"), "application/x-xyz");
  Open();
  EXPECT_EQ(grid->item(2, 0)->text(), ".xyz");
}

TEST_F(SettingsDialogTest, MimeRowsWithoutOrWithATwiceTypedExtensionAreRefused) {
  Open();
  auto* grid = Control<QTableWidget>("mimelist");
  const std::string before = core->Settings().Get().mimeList;
  const struct {
    const char* key;
    const char* value;
    const char* error;
  } cases[] = {
      {"", "text/x", "Mime List: the type \"text/x\" has no extension."},
      {".HTML", "text/x", "Mime List: the extension \".HTML\" is listed twice."},
  };
  for (const auto& c : cases) {
    prompts.errors.clear();
    Click("mimeAdd");
    const int row = grid->rowCount() - 1;
    grid->item(row, 0)->setText(c.key);
    grid->item(row, 1)->setText(c.value);
    Click("apply");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(prompts.errors, std::vector<std::string>{c.error});
    EXPECT_EQ(core->Settings().Get().mimeList, before);
    grid->removeRow(row);
  }
  Click("mimeAdd");  // a row added and left empty is dropped
  Click("apply");
  EXPECT_EQ(core->Settings().Get().mimeList, before);
  EXPECT_FALSE(std::filesystem::exists(data.File("httpsettings.lst.tmp")));
}

TEST_F(SettingsDialogTest, ListEditorsFollowTheirRules) {
  Open();
  auto* defaults = Control<ListEditor>("defaultfile");
  for (int i = 0; i < 2; ++i) {
    defaults->Field()->setText(" x.htm");
    QTest::mouseClick(defaults->AddButton(), Qt::LeftButton);
  }
  defaults->Field()->setText("");
  QTest::mouseClick(defaults->AddButton(), Qt::LeftButton);  // empty: nothing added
  EXPECT_EQ(defaults->ListText(), "index.html; x.htm; x.htm;");

  // Modify needs a selected row; clicking a row copies it into the field.
  defaults->Field()->setText("y.htm");
  QTest::mouseClick(defaults->ModifyButton(), Qt::LeftButton);
  EXPECT_EQ(defaults->ListText(), "index.html; x.htm; x.htm;");
  const QRect row0 = defaults->List()->visualItemRect(defaults->List()->item(0));
  QTest::mouseClick(defaults->List()->viewport(), Qt::LeftButton, {}, row0.center());
  EXPECT_EQ(defaults->Field()->text(), "index.html");
  defaults->Field()->setText("y.htm");
  QTest::mouseClick(defaults->ModifyButton(), Qt::LeftButton);
  EXPECT_EQ(defaults->Field()->text(), "");
  EXPECT_EQ(Control<ListEditor>("banned")->ModifyButton(), nullptr);

  Click("apply");
  EXPECT_EQ(core->Settings().GetDefaultFiles(),
            (std::vector<std::string>{"y.htm", " x.htm", " x.htm"}));
}

TEST_F(SettingsDialogTest, EnterInAListFieldAddsTheEntryAndKeepsTheDialogOpen) {
  Open();
  struct Case {
    int page;
    std::vector<std::pair<const char*, const char*>> typed;  // field, text; Enter in the last
    std::function<bool()> added;
  } const cases[] = {
      {2,
       {{"defaultfile", "home.htm"}},
       [&] { return Control<ListEditor>("defaultfile")->ListText() == "index.html;home.htm;"; }},
      {7,
       {{"banned", "192.0.2.9"}},
       [&] { return Control<ListEditor>("banned")->ListText() == "192.0.2.9;"; }},
      {6,
       {{"redirectDocument", "/a"}, {"redirectTarget", "/b"}},
       [&] { return Control<QListWidget>("redirect")->count() == 1; }},
      {8,
       {{"rootaliaskey", "/m"}, {"rootaliasdirectory", "/srv/m/"}},
       [&] { return core->RootAliases().IndexOfRootAlias("/m") == 0; }},
  };
  for (const Case& c : cases) {
    dialog->Tabs()->setCurrentIndex(c.page);
    QLineEdit* field = nullptr;
    for (const auto& [name, text] : c.typed) {
      auto* editor = qobject_cast<ListEditor*>(Control<QWidget>(name));
      field = editor ? editor->Field() : Control<QLineEdit>(name);
      field->setText(text);
    }
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible()) << c.typed.front().first;
    EXPECT_TRUE(c.added()) << c.typed.front().first;
    EXPECT_EQ(field->text(), "") << c.typed.front().first;
  }
}

TEST_F(SettingsDialogTest, AliasEditorsChangeTheLiveTableAndDeleteTheAliasNamedInTheField) {
  RootAliasStore& aliases = core->RootAliases();
  aliases.AddRootAlias("/a", "/srv/a/");
  aliases.AddRootAlias("/b", "/srv/b/");
  Open();
  dialog->Tabs()->setCurrentIndex(8);
  auto* list = Control<QTreeWidget>("rootaliaslist");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(0)).center());
  auto* key = Control<QLineEdit>("rootaliaskey");
  EXPECT_EQ(key->text(), "/a");
  EXPECT_EQ(Control<QLineEdit>("rootaliasdirectory")->text(), "/srv/a/");

  key->setText("/b");  // row /a stays selected
  Click("rootaliasdelete");
  EXPECT_EQ(aliases.ListRootAliases().lines, std::vector<std::string>{"/a||/srv/a/||"});
  EXPECT_EQ(key->text(), "");

  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->topLevelItem(0)).center());
  key->setText("/zzz");
  Click("rootaliasdelete");  // no such alias: nothing changes, the fields stay
  EXPECT_EQ(aliases.ListRootAliases().Count(), 1u);
  EXPECT_EQ(key->text(), "/zzz");

  // Add refuses an existing key and leaves the fields; the folder need not exist.
  key->setText("/a");
  Click("rootaliasadd");
  EXPECT_EQ(key->text(), "/a");
  key->setText("/new");
  Click("rootaliasadd");
  EXPECT_EQ(aliases.IndexOfRootAlias("/new"), 1);

  // Cancel keeps the live edits; Apply writes them.
  Click("cancel");
  EXPECT_EQ(aliases.IndexOfRootAlias("/new"), 1);
  Open();
  Click("apply");
  EXPECT_EQ(data.Read("httprootaliases.lst"), "/a;/srv/a/;\r\n/new;/srv/a/;\r\n");
}

TEST_F(SettingsDialogTest, BrowseButtonsUseTheirFiltersAndFillTheirFields) {
  Open();
  const struct {
    const char* field;
    const char* kind;
    const char* filterOrTitle;
    const char* answer;
    const char* received;
  } cases[] = {
      {"filenotfound", "open", "Html files (*.htm, *.html)|*.htm; *.html|All files (*.*)|*.*",
       "/tpl/own.html", "own.html"},
      {"phpcompiler", "open",
       "CGI Application (*.exe)|*.exe|ISAPI Library (*.dll)|*.dll|All files (*)|*",
       "/opt/php/php.exe", "/opt/php/php.exe"},
      {"phpinipath", "open", "Php ini file (*.ini)|*.ini", "/etc/php/8.2/php.ini", "/etc/php/8.2"},
      {"certkey", "open", "Certificates (*.pem)|*.pem", "/k/key.pem", "/k/key.pem"},
      {"logfilename", "save", "Log files (*.txt)|*.txt|All files (*.*)|*.*", "/l/web.txt",
       "/l/web.txt"},
      {"homedirectory", "folder", "Select WWW Directory", "/srv/www", "/srv/www"},
      {"templatedirectory", "folder", "Select Templates Dir", "/srv/tpl", "/srv/tpl"},
      {"rootaliasdirectory", "folder", "Select Root Directory..", "/srv/r", "/srv/r"},
  };
  for (const auto& c : cases) {
    auto* field = Control<QLineEdit>(c.field);
    const QString browse =
        QString(c.field) == "rootaliasdirectory" ? "rootaliasbrowse" : QString(c.field) + "Browse";
    field->setText("before");
    files.answer.clear();  // cancelled: the field keeps its text
    Click(browse);
    EXPECT_EQ(field->text(), "before") << c.field;
    EXPECT_EQ(files.kind, c.kind) << c.field;
    EXPECT_EQ(files.kind == "folder" ? files.title : files.filter, c.filterOrTitle) << c.field;
    if (files.kind == "folder") {
      EXPECT_EQ(files.start, "before");  // folder dialogs start at the field's text
    }
    files.answer = c.answer;
    Click(browse);
    EXPECT_EQ(field->text(), c.received) << c.field;
  }
}

TEST_F(SettingsDialogTest, TextFieldsKeepOddInputWithinTheFileRules) {
  Open();
  const std::string longName(5000, 'n');
  const struct {
    std::string typed;
    std::string readBack;
  } cases[] = {
      {"a;b=c", "a;b=c"},
      {"first\nsecond", "first"},  // a line break would start a new line of the file
      {longName, longName.substr(0, 2047)},
  };
  for (const auto& c : cases) {
    Open();
    Control<QLineEdit>("servername")->setText(QString::fromStdString(c.typed));
    Click("apply");
    StartCore();
    EXPECT_EQ(core->Settings().GetServerName(), c.readBack);
    EXPECT_EQ(core->Settings().GetHttpPort(), 80);  // the rest of the file is intact
  }
}

TEST_F(SettingsDialogTest, GeometryAndAliasColumnWidthsAreKept) {
  Open();
  dialog->resize(720, 520);
  Control<QTreeWidget>("domainaliaslist")->header()->resizeSection(0, 140);
  Click("apply");
  const IniFile ini(data.File("httpsettings.lst"));
  EXPECT_EQ(ini.ReadInteger("httpsettings", "width", 0), 720);
  EXPECT_EQ(ini.ReadInteger("httpsettings", "height", 0), 520);
  EXPECT_EQ(ini.ReadInteger("domainaliassection", "width1", 0), 140);
  StartCore();
  Open();
  EXPECT_EQ(dialog->size(), QSize(720, 520));
  EXPECT_EQ(Control<QTreeWidget>("domainaliaslist")->header()->sectionSize(0), 140);
}

TEST_F(SettingsDialogTest, StartAtLogonEntryFollowsTheSettingAtExit) {
  const std::string entry = config.File("autostart/morlak.desktop");
  SettingsValues values = core->Settings().Get();
  values.startOnWindows = true;
  core->Settings().Set(values);
  dialog.reset();
  ASSERT_TRUE(std::filesystem::exists(entry));
  EXPECT_NE(
      config.Read("autostart/morlak.desktop").find("/test_app\" \"--data-dir\" \"" + data.Path()),
      std::string::npos);

  values.startOnWindows = false;
  core->Settings().Set(values);
  dialog = std::make_unique<Thttpsettings>(*core, nullptr, &files, &prompts);
  dialog.reset();
  EXPECT_FALSE(std::filesystem::exists(entry));
  dialog = std::make_unique<Thttpsettings>(*core, nullptr, &files, &prompts);
  dialog.reset();  // cleared and absent: nothing to say
  EXPECT_TRUE(prompts.errors.empty());

  // An entry that cannot be written is reported.
  std::filesystem::remove_all(config.File("autostart"));
  config.Write("autostart", "a file where the folder belongs");
  values.startOnWindows = true;
  core->Settings().Set(values);
  dialog = std::make_unique<Thttpsettings>(*core, nullptr, &files, &prompts);
  dialog.reset();
  EXPECT_EQ(prompts.errors,
            std::vector<std::string>{"Error writing to windows registry (run on startup)."});
}

TEST_F(SettingsDialogTest, FailedSaveIsReportedAndTheValuesStayApplied) {
  Open();
  std::filesystem::remove(data.File("httpsettings.lst"));
  std::filesystem::create_directory(data.File("httpsettings.lst"));  // cannot be replaced
  Control<QLineEdit>("servername")->setText("Applied");
  Click("apply");
  EXPECT_EQ(prompts.errors, std::vector<std::string>{"Failed to save applied settings."});
  EXPECT_EQ(core->Settings().GetServerName(), "Applied");
}

TEST_F(SettingsDialogTest, SelfSignedCertificateFillsTheFileFieldsAndAsksBeforeReplacing) {
  Open();
  Click("createcertificate");
  ASSERT_EQ(prompts.information.size(), 1u) << (prompts.errors.empty() ? "" : prompts.errors[0]);
  EXPECT_EQ(Control<QLineEdit>("certcert")->text().toStdString(), data.File("httpscert.pem"));
  EXPECT_EQ(Control<QLineEdit>("certkey")->text().toStdString(), data.File("httpskey.pem"));
  const std::string key = data.Read("httpskey.pem");

  prompts.answers = {false};
  Click("createcertificate");
  ASSERT_EQ(prompts.questions.size(), 1u);
  EXPECT_NE(prompts.questions[0].find("\rReplace them?"), std::string::npos);
  EXPECT_EQ(data.Read("httpskey.pem"), key);
}

}  // namespace
}  // namespace morlak::test_support
