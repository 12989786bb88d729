#include "app/dialog_services.h"

#include <gtest/gtest.h>

namespace morlak {
namespace {

TEST(QtFileFilterTest, DescribedFiltersBecomeQtFilters) {
  const struct {
    const char* described;
    const char* qt;
  } cases[] = {
      {"Html files (*.htm, *.html)|*.htm; *.html|All files (*.*)|*.*",
       "Html files (*.htm *.html);;All files (*.*)"},
      {"Web server data (*.webdata)|*.webdata", "Web server data (*.webdata)"},
      {"CGI Application (*.exe)|*.exe|ISAPI Library (*.dll)|*.dll",
       "CGI Application (*.exe);;ISAPI Library (*.dll)"},
  };
  for (const auto& c : cases) EXPECT_EQ(QtFileFilter(c.described).toStdString(), c.qt);
}

}  // namespace
}  // namespace morlak
