// Damaged containers from a fixed seed: every operation must end, stay within the
// container's bytes and never write outside the target folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "storage_container.h"
#include "stores/storage_file.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::StorageEntryBytes;
using test_support::StorageField;
using test_support::StorageHeader;
using test_support::TempFolder;

constexpr int kRounds = 400;

struct Container {
  std::string bytes;
  std::vector<size_t> entryOffsets;
};

Container BaseContainer() {
  Container c{StorageHeader(), {}};
  const std::pair<const char*, size_t> entries[] = {
      {"a.txt", 10}, {"b.lst", 300}, {"", 0}, {"c", 9000}, {"d.bin", 17}};
  for (const auto& [name, size] : entries) {
    c.entryOffsets.push_back(c.bytes.size());
    c.bytes += StorageEntryBytes(name, std::string(size, static_cast<char>('a' + size % 26)));
  }
  return c;
}

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : random_(seed) {}

  std::string Mutate(const Container& base) {
    std::string bytes = base.bytes;
    const int steps = Pick(1, 3);
    for (int i = 0; i < steps; ++i) {
      const size_t entry = base.entryOffsets[static_cast<size_t>(Pick(0, 4))];
      switch (Pick(0, 5)) {
        case 0:  // flip a few bytes anywhere
          for (int n = Pick(1, 4); n > 0 && !bytes.empty(); --n)
            bytes[At(bytes.size())] ^= static_cast<char>(Pick(1, 255));
          break;
        case 1:  // cut short
          bytes.resize(At(bytes.size() + 1));
          break;
        case 2: {  // a hostile size field
          static const char* sizes[] = {"2147483647", "99999999999", "-1",  "abc",
                                        "",           "0x10",        "9000"};
          if (entry + 288 <= bytes.size())
            bytes.replace(entry + 272, 16, StorageField(sizes[Pick(0, 6)], 16));
          break;
        }
        case 3: {  // a hostile name
          static const char* names[] = {
              "../up.txt", "..\\up.txt", "sub/../../up.txt", "C:up.txt", "..", "/abs.txt", "a/b"};
          if (entry + 256 <= bytes.size())
            bytes.replace(entry, 256, StorageField(names[Pick(0, 6)], 256));
          break;
        }
        case 4: {  // a wild length byte in one of the three fields
          static const size_t fields[] = {0, 256, 272};
          if (entry + 288 <= bytes.size())
            bytes[entry + fields[Pick(0, 2)]] = static_cast<char>(Pick(0, 255));
          break;
        }
        default:  // trailing garbage
          for (int n = Pick(1, 600); n > 0; --n) bytes += static_cast<char>(Pick(0, 255));
          break;
      }
    }
    return bytes;
  }

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  size_t At(size_t size) { return std::uniform_int_distribution<size_t>(0, size - 1)(random_); }

  std::mt19937 random_;
};

TEST(StorageFileMutationTest, DamagedContainersEndSafely) {
  TempFolder sandbox;
  const std::string out = sandbox.File("out/");
  std::filesystem::create_directory(out);
  TOzm_StorageFile storage;
  storage.SetFilename(sandbox.File("c.webdata"));
  size_t messageCount = 0;
  storage.OnMessage = [&](const std::string&) { ++messageCount; };

  const Container base = BaseContainer();
  Mutator mutator(20240611);
  int extracted = 0;
  uintmax_t largestContainer = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string bytes = mutator.Mutate(base);
    sandbox.Write("c.webdata", bytes);
    largestContainer = std::max<uintmax_t>(largestContainer, bytes.size());
    const int64_t limit = static_cast<int64_t>(bytes.size());
    const auto names = storage.ListEntries().lines;
    ASSERT_LE(names.size(), bytes.size() / 288 + 1) << "round " << round;
    for (const std::string& name : names) {
      TMemoryStream stream;
      storage.ExtractToStream(name, stream);
      EXPECT_LE(stream.Size(), limit) << "round " << round;
      EXPECT_LE(storage.EntrySize(name), limit) << "round " << round;
      if (storage.ExtractToFolder(name, out)) {
        ++extracted;
        EXPECT_EQ(name.find_first_of("/\\:"), std::string::npos) << name;
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
      }
    }
  }
  // The runs really went through both sound and damaged entries.
  EXPECT_GT(extracted, kRounds / 4);
  EXPECT_GT(messageCount, static_cast<size_t>(kRounds / 4));

  for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox.Path())) {
    const auto parent = entry.path().parent_path().string() + "/";
    if (parent == sandbox.Path()) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "c.webdata" || name == "out") << entry.path();
    } else {
      EXPECT_EQ(parent, out) << entry.path();
      EXPECT_TRUE(entry.is_regular_file()) << entry.path();
      EXPECT_LE(entry.file_size(), largestContainer) << entry.path();
    }
  }
}

}  // namespace
}  // namespace morlak
