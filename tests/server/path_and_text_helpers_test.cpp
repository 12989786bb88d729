#include "server/path_and_text_helpers.h"

#include <gtest/gtest.h>

namespace morlak {
namespace {

// The one-piece path builder must agree with the step-by-step rules it stands for.
TEST(LocalPathUnder, AgreesWithCollapsingTheJoinedLocalPath) {
  const char* const folders[] = {"", "/srv/www/", "/srv//www/", "rel/", "/srv\\www/"};
  const char* const paths[] = {"",         "/",       "/index.html", "//a///b.html", "\\a\\b",
                               "a/b.html", "/a\\/b/", "//",          "/..//x"};
  for (const char* folder : folders) {
    for (const char* path : paths) {
      SCOPED_TRACE(std::string(folder) + " + " + path);
      EXPECT_EQ(LocalPathUnder(folder, path),
                CollapseBackslashes(std::string(folder) + ToLocalPath(path)));
    }
  }
}

}  // namespace
}  // namespace morlak
