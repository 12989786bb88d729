// The branding container read at start-up.
#include "server/branding.h"

#include <gtest/gtest.h>

#include <vector>

#include "stores/storage_file.h"
#include "support/temp_folder.h"

namespace morlak {
namespace {

using test_support::TempFolder;

TEST(Branding, ReadsTheTextAndPictureEntries) {
  TempFolder sources, program;
  const std::string text = sources.Write(
      "data.0", "homepage=updates.example\r\ncompany=Acme\r\nauthor=Ann\r\nftpserver=Acme Web\r\n");
  const std::string picture = sources.Write("data.1", std::string("\x89PNG\0\1", 6));
  TOzm_StorageFile container;
  container.SetFilename(program.File("custom.config"));
  ASSERT_TRUE(container.SaveFiles({text, picture}));

  std::vector<std::string> messages;
  const Branding b =
      ReadBranding(program.Path(), [&](const std::string& m) { messages.push_back(m); });
  EXPECT_TRUE(b.present);
  EXPECT_TRUE(b.hasText);
  EXPECT_EQ(b.homepage, "updates.example");
  EXPECT_EQ(b.company, "Acme");
  EXPECT_EQ(b.author, "Ann");
  EXPECT_EQ(b.ftpserver, "Acme Web");
  EXPECT_EQ(b.picture, std::string("\x89PNG\0\1", 6));
  EXPECT_TRUE(messages.empty());
}

TEST(Branding, DamagedContainerIsReportedAndIgnored) {
  TempFolder program;
  program.Write("custom.config", "not a storage file");
  std::vector<std::string> messages;
  const Branding b =
      ReadBranding(program.Path(), [&](const std::string& m) { messages.push_back(m); });
  EXPECT_TRUE(b.present);
  EXPECT_FALSE(b.hasText);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), "Storage file header check failed.");
}

TEST(Branding, NoContainerMeansNoBranding) {
  TempFolder program;
  const Branding b = ReadBranding(program.Path(), [](const std::string&) { FAIL(); });
  EXPECT_FALSE(b.present);
  EXPECT_EQ(b.ftpserver, "");
}

}  // namespace
}  // namespace morlak
