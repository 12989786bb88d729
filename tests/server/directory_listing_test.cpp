#include "server/directory_listing.h"

#include <gtest/gtest.h>

#include "platform/datetime.h"
#include "platform/files.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

const std::string kHeader =
    "<table width=100%>\r\n"
    "  <tr valign=top>\r\n"
    "    <td bgcolor=#ffffff><font size=2 color=#000000>\r\n"
    "      File name\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#ffffff><font size=2 color=#000000>\r\n"
    "      Size\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#ffffff><font size=2 color=#000000>\r\n"
    "      Type\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#ffffff><font size=2 color=#000000>\r\n"
    "      Date Modified\r\n"
    "    </td>\r\n"
    "  </tr>\r\n";

const std::string kEmptyRow =
    "  <tr valign=top>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "      <a href=\"/files/empty.txt\">empty.txt</a>\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "       \r\n"
    "    </td>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "     File\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "      03/04/21 05:06:07\r\n"
    "    </td>\r\n"
    "  </tr>\r\n";

const std::string kOneByteRow =
    "  <tr valign=top>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "      <a href=\"/files/one.txt\">one.txt</a>\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "      1b\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "     File\r\n"
    "    </td>\r\n"
    "    <td bgcolor=#dddddd><font size=2 color=#000000>\r\n"
    "      12/31/99 23:59:58\r\n"
    "    </td>\r\n"
    "  </tr>\r\n";

class DirectoryListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    ASSERT_TRUE(
        SetFileModTime(folder_.Write("empty.txt", ""), EncodeDateTime(2021, 3, 4, 5, 6, 7)));
    ASSERT_TRUE(
        SetFileModTime(folder_.Write("one.txt", "x"), EncodeDateTime(1999, 12, 31, 23, 59, 58)));
    folder_.MakeFolder("sub");
  }

  // The rows in the order the file system gives the names.
  std::string RowsInFolderOrder(const std::string& folder) {
    std::string rows;
    const auto entries = ListDirectory(folder);
    for (const auto& entry : *entries) {
      if (entry.name == "empty.txt") rows += kEmptyRow;
      if (entry.name == "one.txt") rows += kOneByteRow;
    }
    return rows;
  }

  test_support::TempFolder folder_;
};

TEST_F(DirectoryListingTest, ListsFilesByteForByteAndLeavesFoldersOut) {
  EXPECT_EQ(BuildDirectoryListing("/files/", folder_.Path()),
            kHeader + RowsInFolderOrder(folder_.Path()) + "</table>\r\n");
}

TEST_F(DirectoryListingTest, FolderWithOnlySubFoldersGivesHeaderAndClose) {
  const std::string only = folder_.MakeFolder("only");
  folder_.MakeFolder("only/a");
  folder_.MakeFolder("only/b");
  EXPECT_EQ(BuildDirectoryListing("/x/", only), kHeader + "</table>\r\n");
}

TEST_F(DirectoryListingTest, WithoutTrailingSeparatorListsMatchingNamesBeside) {
  folder_.MakeFolder("onion");
  // "<folder>one" matches one.txt beside it (and the folder onion, which is left out)
  // but not empty.txt.
  EXPECT_EQ(BuildDirectoryListing("/files/", folder_.Path() + "on"),
            kHeader + kOneByteRow + "</table>\r\n");
  // The folder's own name matches itself: a folder, so only the header shows.
  EXPECT_EQ(BuildDirectoryListing("/files/", folder_.Path() + "sub"), kHeader + "</table>\r\n");
}

TEST_F(DirectoryListingTest, NoMatchOrUnreadableFolderGivesEmptyText) {
  EXPECT_EQ(BuildDirectoryListing("/files/", folder_.Path() + "nothing"), "");
  EXPECT_EQ(BuildDirectoryListing("/files/", folder_.Path() + "missing/"), "");
}

TEST_F(DirectoryListingTest, NamesGoInUnescapedAfterThePrefix) {
  const std::string odd = folder_.MakeFolder("odd");
  folder_.Write("odd/a&b c.txt", "12");
  const std::string listing = BuildDirectoryListing("pre", odd);
  EXPECT_NE(listing.find("      <a href=\"prea&b c.txt\">a&b c.txt</a>\r\n"), std::string::npos);
  EXPECT_NE(listing.find("      2b\r\n"), std::string::npos);
}

}  // namespace
}  // namespace morlak
