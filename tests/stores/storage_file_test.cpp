#include "stores/storage_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "storage_container.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::StorageEntryBytes;
using test_support::StorageField;
using test_support::StorageHeader;
using test_support::TempFolder;

const char kHeaderFailed[] = "Storage file header check failed.";

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class StorageFileTest : public ::testing::Test {
 protected:
  StorageFileTest() {
    storage.OnMessage = [this](const std::string& message) { messages.push_back(message); };
  }

  void UseContainer(const std::string& bytes) {
    folder.Write("c.webdata", bytes);
    storage.SetFilename(folder.File("c.webdata"));
  }

  std::string Extract(const std::string& name) {
    TMemoryStream stream;
    return storage.ExtractToStream(name, stream) ? stream.Data() : "<failed>";
  }

  TempFolder folder;
  TOzm_StorageFile storage;
  std::vector<std::string> messages;
};

TEST_F(StorageFileTest, TenDataFilesRoundTripWithTheirTimeStamps) {
  const std::vector<std::string> names = {
      "httpdomainaliases.lst", "httprootaliases.lst", "httpspecialfiles.lst", "httpsettings.lst",
      "httpmimelist.lst",      "statlist.lst",        "statagents.lst",       "statconnections.lst",
      "statbytes.lst",         "httpmembers.lst"};
  const size_t sizes[] = {0, 1, 8000, 8001, 8002, 16002, 20000, 100, 3, 50000};
  TempFolder source, target;
  std::vector<std::string> paths;
  for (size_t i = 0; i < names.size(); ++i) {
    source.Write(names[i], Pattern(sizes[i], static_cast<unsigned>(i)));
    ASSERT_TRUE(SetFileModTime(source.File(names[i]),
                               EncodeDateTime(2023, 7, 14, 9, static_cast<int>(i), 53)));
    paths.push_back(source.File(names[i]));
  }
  storage.SetFilename(folder.File("WebServerExport.webdata"));
  ASSERT_TRUE(storage.SaveFiles(paths));

  const std::string bytes = folder.Read("WebServerExport.webdata");
  EXPECT_EQ(bytes.substr(0, 256), std::string("\x04SFH1", 5) + std::string(251, '\0'));
  EXPECT_EQ(bytes.substr(256, 22), "\x15httpdomainaliases.lst");
  EXPECT_EQ(storage.ListEntries().lines, names);

  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_TRUE(storage.ExtractToFolder(names[i], target.Path())) << names[i];
    EXPECT_EQ(target.Read(names[i]), source.Read(names[i])) << names[i];
    // DOS time stamps keep even seconds only.
    EXPECT_EQ(FileModTime(target.File(names[i])),
              EncodeDateTime(2023, 7, 14, 9, static_cast<int>(i), 52))
        << names[i];
    EXPECT_EQ(storage.EntrySize(names[i]), static_cast<int>(sizes[i]));
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(StorageFileTest, WritesTheExactEntryLayout) {
  TempFolder source;
  source.Write("a.txt", "hello");
  source.Write("empty.txt", "");
  SetFileModTime(source.File("a.txt"), EncodeDateTime(2023, 7, 14, 9, 26, 53));
  SetFileModTime(source.File("empty.txt"), EncodeDateTime(2023, 7, 14, 9, 26, 53));
  storage.SetFilename(folder.File("c.webdata"));
  ASSERT_TRUE(storage.SaveFiles({source.File("empty.txt"), source.File("a.txt")}));
  EXPECT_EQ(folder.Read("c.webdata"), StorageHeader() +
                                          StorageEntryBytes("empty.txt", "", "1458457434") +
                                          StorageEntryBytes("a.txt", "hello", "1458457434"));
  EXPECT_EQ(Extract("a.txt"), "hello");
  EXPECT_EQ(Extract("empty.txt"), "");
  EXPECT_EQ(storage.EntrySize("empty.txt"), 0);
  EXPECT_TRUE(storage.HasEntry("empty.txt"));
  std::filesystem::create_directory(source.File("out"));
  ASSERT_TRUE(storage.ExtractToFolder("empty.txt", source.File("out")));  // folder without "/"
  EXPECT_EQ(FolderNames(source.File("out")), std::vector<std::string>{"empty.txt"});
}

TEST_F(StorageFileTest, LookupsIgnoreCaseAndUseTheFirstOfEqualNames) {
  UseContainer(StorageHeader() + StorageEntryBytes("httpsettings.lst", "settings") +
               StorageEntryBytes("a.txt", "first") + StorageEntryBytes("A.TXT", "second!"));
  EXPECT_EQ(Extract("HTTPSETTINGS.LST"), "settings");
  EXPECT_EQ(Extract("A.txt"), "first");
  EXPECT_EQ(storage.EntrySize("a.TXT"), 5);
  EXPECT_TRUE(storage.HasEntry("HttpSettings.lst"));
  EXPECT_FALSE(storage.HasEntry("httpsettings"));
  EXPECT_EQ(storage.EntrySize("missing"), -1);
  EXPECT_EQ(storage.ListEntries().lines,
            (std::vector<std::string>{"httpsettings.lst", "a.txt", "A.TXT"}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(StorageFileTest, PaddingIsNotChecked) {
  std::string entry = StorageEntryBytes("a.txt", "data");
  entry[100] = 'Z';       // name padding
  entry[256 + 14] = 'Z';  // age padding
  UseContainer(StorageHeader('\xff') + entry);
  EXPECT_EQ(Extract("a.txt"), "data");
  EXPECT_TRUE(messages.empty());
}

TEST_F(StorageFileTest, ExtractToStreamOverwritesFromTheStartAndRewinds) {
  UseContainer(StorageHeader() + StorageEntryBytes("a.txt", "abc"));
  TMemoryStream stream(std::string("0123456789"));
  stream.Seek(7);
  ASSERT_TRUE(storage.ExtractToStream("a.txt", stream));
  EXPECT_EQ(stream.Data(), "abc3456789");
  EXPECT_EQ(stream.Position(), 0);
}

TEST_F(StorageFileTest, BadHeadersFailEveryLookup) {
  const std::string valid = StorageEntryBytes("a.txt", "abc");
  const std::string containers[] = {
      "",
      valid,
      std::string("\x04SFH", 4) + valid,
      std::string("\x04SFH1", 5) + std::string(100, '\0'),  // shorter than a header
      std::string("\x04SFH2", 5) + std::string(251, '\0') + valid,
      std::string("\x03SFH1", 5) + std::string(251, '\0') + valid,
      std::string(256, '\0') + valid,
  };
  for (const std::string& container : containers) {
    UseContainer(container);
    messages.clear();
    EXPECT_TRUE(storage.ListEntries().Empty());
    EXPECT_EQ(storage.EntrySize("a.txt"), -1);
    EXPECT_EQ(Extract("a.txt"), "<failed>");
    EXPECT_FALSE(storage.ExtractToFolder("a.txt", folder.Path()));
    EXPECT_EQ(messages, std::vector<std::string>(4, kHeaderFailed)) << container.size();
  }
  EXPECT_FALSE(std::filesystem::exists(folder.File("a.txt")));
}

TEST_F(StorageFileTest, MissingContainerIsSilent) {
  storage.SetFilename(folder.File("none.webdata"));
  EXPECT_TRUE(storage.ListEntries().Empty());
  EXPECT_FALSE(storage.HasEntry("a"));
  EXPECT_EQ(Extract("a"), "<failed>");
  storage.SetFilename("");
  EXPECT_TRUE(storage.ListEntries().Empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(StorageFileTest, TruncatedContainersEndTheScanWithFailure) {
  const std::string full = StorageHeader() + StorageEntryBytes("a.txt", "12345") +
                           StorageEntryBytes("b.txt", Pattern(100, 1));
  const size_t secondEntry = 256 + 288 + 5;
  const struct {
    size_t cut;
    std::vector<std::string> names;
    std::string message;
  } cases[] = {
      {256 + 100, {}, "Storage file ends inside an entry header."},
      {256 + 288 + 2, {"a.txt"}, "Storage file ends inside the content of \"a.txt\"."},
      {secondEntry + 287, {"a.txt"}, "Storage file ends inside an entry header."},
      {secondEntry + 288 + 99,
       {"a.txt", "b.txt"},
       "Storage file ends inside the content of \"b.txt\"."},
  };
  for (const auto& c : cases) {
    UseContainer(full.substr(0, c.cut));
    messages.clear();
    EXPECT_EQ(storage.ListEntries().lines, c.names) << c.cut;
    EXPECT_EQ(messages, std::vector<std::string>{c.message}) << c.cut;
    EXPECT_EQ(storage.EntrySize("b.txt"), -1) << c.cut;
    TMemoryStream stream;
    EXPECT_FALSE(storage.ExtractToStream("b.txt", stream));
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_FALSE(storage.ExtractToFolder("b.txt", folder.Path()));
  }
  UseContainer(full.substr(0, secondEntry + 10));
  EXPECT_EQ(Extract("a.txt"), "12345");  // entries before the damage still work
  EXPECT_FALSE(std::filesystem::exists(folder.File("b.txt")));
}

TEST_F(StorageFileTest, BadNumberFieldsStopTheScanAfterListingTheName) {
  const std::string good = StorageEntryBytes("a.txt", "abc");
  const std::string after = StorageEntryBytes("c.txt", "xyz");
  const struct {
    std::string age, size;
    std::string message;
  } cases[] = {
      {"1", "12a", "File size read failed (\"12a\")."},
      {"1", "", "File size read failed (\"\")."},
      {"1", "-5", "File size read failed (\"-5\")."},
      {"1", "0x10", "File size read failed (\"0x10\")."},
      {"1", " 3", "File size read failed (\" 3\")."},
      {"1", "+-3", "File size read failed (\"+-3\")."},
      {"1", "99999999999", "File size read failed (\"99999999999\")."},
      {"noon", "3", "File age read failed (\"noon\")."},
  };
  for (const auto& c : cases) {
    const std::string bad =
        StorageField("bad.txt", 256) + StorageField(c.age, 16) + StorageField(c.size, 16) + "xyz";
    UseContainer(StorageHeader() + good + bad + after);
    messages.clear();
    EXPECT_EQ(storage.ListEntries().lines, (std::vector<std::string>{"a.txt", "bad.txt"}));
    EXPECT_EQ(storage.EntrySize("c.txt"), -1);
    EXPECT_EQ(storage.EntrySize("bad.txt"), -1);
    EXPECT_EQ(Extract("a.txt"), "abc");
    EXPECT_EQ(messages, std::vector<std::string>(3, c.message));
  }
}

TEST_F(StorageFileTest, SizeTextInTheMessageIsCutTo39Characters) {
  // A length byte of 60 announces more text than the field holds; it runs on into the
  // following bytes and is refused as a size.
  const std::string size = std::string(1, '\x3c') + "ABCDEFGHIJKLMNO";
  UseContainer(StorageHeader() + StorageField("x", 256) + StorageField("1", 16) + size +
               "PQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(storage.ListEntries().lines, std::vector<std::string>{"x"});
  EXPECT_EQ(messages, std::vector<std::string>{
                          "File size read failed (\"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abc\")."});
}

TEST_F(StorageFileTest, AnnouncedSizeBeyondTheEndFailsWithoutAllocating) {
  UseContainer(StorageHeader() + StorageField("big.bin", 256) + StorageField("1", 16) +
               StorageField("2147483647", 16) + Pattern(700, 3));
  EXPECT_EQ(storage.EntrySize("big.bin"), -1);
  TMemoryStream stream;
  EXPECT_FALSE(storage.ExtractToStream("big.bin", stream));
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_FALSE(storage.ExtractToFolder("big.bin", folder.Path()));
  EXPECT_FALSE(std::filesystem::exists(folder.File("big.bin")));
  EXPECT_EQ(messages,
            std::vector<std::string>(3, "Storage file ends inside the content of \"big.bin\"."));
}

TEST_F(StorageFileTest, ExtractToFolderWritesPlainNamesOnly) {
  const std::vector<std::string> refused = {"../up.txt", "sub/x.txt", "sub\\x.txt", "..\\up.txt",
                                            "C:up.txt",  "..",        ".",          "a..b",
                                            "/abs.txt",  ""};
  std::string bytes = StorageHeader();
  for (const std::string& name : refused) bytes += StorageEntryBytes(name, "evil");
  bytes += StorageEntryBytes("ok.txt", "fine");
  UseContainer(bytes);
  std::filesystem::create_directory(folder.File("out"));
  for (const std::string& name : refused) {
    EXPECT_TRUE(storage.HasEntry(name) || name.empty()) << name;
    EXPECT_FALSE(storage.ExtractToFolder(name, folder.File("out/"))) << name;
  }
  EXPECT_TRUE(storage.ExtractToFolder("OK.TXT", folder.File("out/")));
  EXPECT_EQ(FolderNames(folder.Path()), (std::vector<std::string>{"c.webdata", "out"}));
  EXPECT_EQ(FolderNames(folder.File("out")), std::vector<std::string>{"OK.TXT"});
  EXPECT_TRUE(messages.empty());
}

TEST_F(StorageFileTest, SaveFilesFailuresKeepThePreviousContainer) {
  TempFolder source;
  source.Write("a.txt", "a");
  EXPECT_FALSE(storage.SaveFiles({source.File("a.txt")}));  // no file name
  storage.SetFilename(folder.File("c.webdata"));
  EXPECT_FALSE(storage.SaveFiles({}));
  EXPECT_TRUE(messages.empty());

  folder.Write("c.webdata", "previous");
  EXPECT_FALSE(storage.SaveFiles({source.File("a.txt"), source.File("missing.txt")}));
  EXPECT_EQ(messages, std::vector<std::string>{"Storage file not written, cannot read \"" +
                                               source.File("missing.txt") + "\"."});
  EXPECT_EQ(folder.Read("c.webdata"), "previous");

  messages.clear();
  EXPECT_FALSE(storage.SaveFiles({source.Path()}));  // a folder is not a readable file
  EXPECT_EQ(messages.size(), 1u);

  messages.clear();
  storage.SetFilename(folder.File("no/such/c.webdata"));
  EXPECT_FALSE(storage.SaveFiles({source.File("a.txt")}));
  EXPECT_EQ(messages, std::vector<std::string>{"Storage file not written, cannot write \"" +
                                               folder.File("no/such/c.webdata") + "\"."});
  EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::string>{"c.webdata"});  // no leftovers
}

TEST_F(StorageFileTest, MessagesArriveAfterTheLockIsReleased) {
  UseContainer("not a container");
  std::string seenName;
  storage.OnMessage = [&](const std::string&) { seenName = storage.Filename(); };
  EXPECT_TRUE(storage.ListEntries().Empty());
  EXPECT_EQ(seenName, folder.File("c.webdata"));
}

}  // namespace
}  // namespace morlak
