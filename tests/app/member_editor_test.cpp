#include "app/member_editor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include "support/temp_folder.h"

namespace morlak::test_support {
namespace {

class MemberEditorTest : public ::testing::Test {
 protected:
  MemberEditorTest() {
    editor.UserName = "ann";
    editor.Password = "secret";
    editor.HomeDirectory = "/home/ann";
    editor.Applied = true;  // left over from an earlier use
    editor.show();
  }
  QLineEdit* Box(const char* name) { return editor.findChild<QLineEdit*>(name); }
  void Click(const char* name) {
    QTest::mouseClick(editor.findChild<QPushButton*>(name), Qt::LeftButton);
  }

  Thttpclienteditor editor;
};

TEST_F(MemberEditorTest, ShowingFillsTheBoxesAndApplyTakesThemBack) {
  EXPECT_FALSE(editor.Applied);
  EXPECT_EQ(Box("username")->text(), "ann");
  EXPECT_EQ(Box("password")->text(), "secret");
  EXPECT_EQ(Box("homedirectory")->text(), "/home/ann");
  EXPECT_EQ(Box("password")->echoMode(), QLineEdit::Normal);

  Box("username")->clear();  // the member store decides about an empty name
  Box("password")->setText("new");
  Click("apply");
  EXPECT_TRUE(editor.Applied);
  EXPECT_FALSE(editor.isVisible());
  EXPECT_EQ(editor.UserName, "");
  EXPECT_EQ(editor.Password, "new");
  EXPECT_EQ(editor.HomeDirectory, "/home/ann");
}

TEST_F(MemberEditorTest, CancelAfterEditingLeavesTheValues) {
  Box("username")->setText("bob");
  Click("cancel");
  EXPECT_FALSE(editor.Applied);
  EXPECT_EQ(editor.UserName, "ann");
}

TEST_F(MemberEditorTest, BrowseReplacesTheHomeOnlyWhenAFolderIsChosen) {
  QString askedWith;
  QString answer;
  editor.PickFolder = [&](QWidget*, const QString& home) {
    askedWith = home;
    return answer;
  };
  Click("browse");
  EXPECT_EQ(askedWith, "/home/ann");
  EXPECT_EQ(Box("homedirectory")->text(), "/home/ann");
  answer = "/srv/members/ann";
  Click("browse");
  EXPECT_EQ(Box("homedirectory")->text(), "/srv/members/ann");
}

TEST(HomeFolderPickerTest, AnExistingHomeIsTheRootAndAnythingElseStartsAtTheDesktop) {
  TempFolder folder;
  const QString home = QString::fromStdString(folder.MakeFolder("home"));
  const QString inside = QString::fromStdString(folder.MakeFolder("home/www"));
  const QString outside = QString::fromStdString(folder.MakeFolder("other"));

  HomeFolderPicker rooted(nullptr, home);
  EXPECT_EQ(rooted.Root(), QDir(home).absolutePath());
  EXPECT_EQ(rooted.directory().absolutePath(), QDir(home).absolutePath());
  EXPECT_TRUE(rooted.testOption(QFileDialog::ShowDirsOnly));
  EXPECT_EQ(rooted.fileMode(), QFileDialog::Directory);
  EXPECT_TRUE(rooted.InsideRoot(home));
  EXPECT_TRUE(rooted.InsideRoot(inside));
  EXPECT_FALSE(rooted.InsideRoot(outside));
  EXPECT_FALSE(rooted.InsideRoot(home.chopped(1) + "2"));  // a sibling sharing the prefix
  rooted.show();
  rooted.selectFile(outside);
  rooted.accept();  // outside the root: refused, back at the root
  EXPECT_TRUE(rooted.isVisible());
  EXPECT_EQ(rooted.directory().absolutePath(), QDir(home).absolutePath());

  HomeFolderPicker free(nullptr, QString::fromStdString(folder.File("no-such-folder")));
  EXPECT_TRUE(free.Root().isEmpty());
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  EXPECT_EQ(free.directory().absolutePath(),
            QDir(QFileInfo(desktop).isDir() ? desktop : QDir::homePath()).absolutePath());
}

}  // namespace
}  // namespace morlak::test_support
