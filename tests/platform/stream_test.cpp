#include "platform/stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using Kind = TOpenedPath::Kind;

TEST(PathParts, NameAndExtensionTakeTheLastSeparatorOfEitherKind) {
  const struct {
    const char *path, *name, *ext;
  } cases[] = {
      {"/a/b.txt", "b.txt", ".txt"},
      {"/a.b/c", "c", ""},
      {"c", "c", ""},
      {"a\\b.c.d", "b.c.d", ".d"},
      {"/a/.hidden", ".hidden", ".hidden"},
      {"x.", "x.", "."},
      {"dir.d\\file", "file", ""},
      {"/a/", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
  }
}

TEST(OpenExistingTest, TellsWhatThePathNames) {
  test_support::TempFolder folder;
  folder.Write("page.html", "hello");
  folder.MakeFolder("sub");
  ASSERT_EQ(::mkfifo(folder.File("pipe").c_str(), 0644), 0);
  struct Case {
    std::string path;
    Kind kind;
    bool opened;
  };
  const Case cases[] = {
      {"", Kind::kNone, false},
      {folder.File("missing.html"), Kind::kNone, false},
      {folder.File("page.html/inner"), Kind::kNone, false},
      {folder.File("sub"), Kind::kFolder, false},
      {folder.File("sub/"), Kind::kFolder, false},
      // Exists, but only a regular file is handed out open; the open does not wait for a writer.
      {folder.File("pipe"), Kind::kFile, false},
      {folder.File("page.html"), Kind::kFile, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const TOpenedPath found = TFileStream::OpenExisting(c.path);
    EXPECT_EQ(found.kind, c.kind);
    EXPECT_EQ(found.file.has_value(), c.opened);
  }
}

TEST(OpenExistingTest, OpenedFileReadsFromTheStart) {
  test_support::TempFolder folder;
  folder.Write("page.html", "hello world");
  TOpenedPath found = TFileStream::OpenExisting(folder.File("page.html"));
  ASSERT_TRUE(found.file);
  EXPECT_EQ(found.file->Size(), 11);
  char buffer[32] = {};
  EXPECT_EQ(found.file->Read(buffer, sizeof buffer), 11u);
  EXPECT_STREQ(buffer, "hello world");
  // The descriptor changes hands: the emptied source must not close it.
  TFileStream moved = std::move(*found.file);
  found.file.reset();
  moved.Seek(6);
  EXPECT_EQ(moved.Read(buffer, sizeof buffer), 5u);
}

}  // namespace
}  // namespace morlak
