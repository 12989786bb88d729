#include <gtest/gtest.h>

#include "engine/base64.h"
#include "engine/engine_errors.h"
#include "engine/http_codings.h"

namespace morlak {
namespace {

TEST(PercentDecode, Table) {
  const struct {
    const char* in;
    std::string out;
  } cases[] = {
      {"a%41%zz%00b", "aAb"}, {"x%4", "x\x04"},       {"%", ""},     {"100%", "100"},
      {"a+b%2Bc", "a+b+c"},   {"%e4%C3", "\xe4\xc3"}, {"%4g1", "1"}, {"plain", "plain"},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentDecode(c.in), c.out) << c.in;
}

TEST(SplitTarget, Table) {
  const struct {
    const char* in;
    const char *path, *doc, *params;
  } cases[] = {
      {"/dir/file=v#x", "/dir/", "file", "=v"},
      {"c:\\docs\\a.htm", "c:/docs/", "a.htm", ""},
      {"/a/b/c.htm", "/a/b/", "c.htm", ""},
      {"/", "/", "", ""},
      {"", "", "", ""},
      {"noslash", "", "noslash", ""},
      {"/x/y=1/z", "/x/", "y", "=1/z"},
      {"/p/q?r=1", "/p/", "q", "?r=1"},
  };
  for (const auto& c : cases) {
    const TIdTargetParts p = SplitTarget(c.in);
    EXPECT_EQ(p.Path, c.path) << c.in;
    EXPECT_EQ(p.Document, c.doc) << c.in;
    EXPECT_EQ(p.Params, c.params) << c.in;
  }
}

TEST(SplitTarget, AbsoluteUri) {
  const TIdTargetParts p = SplitTarget("http://user:pw@example.org:8080/dir/page.htm#top");
  EXPECT_EQ(p.Protocol, "http");
  EXPECT_EQ(p.Username, "user");
  EXPECT_EQ(p.Password, "pw");
  EXPECT_EQ(p.Host, "example.org");
  EXPECT_EQ(p.Port, "8080");
  EXPECT_EQ(p.Path, "/dir/");
  EXPECT_EQ(p.Document, "page.htm");
  EXPECT_EQ(p.Bookmark, "top");

  const TIdTargetParts q = SplitTarget("http://:secret@host");
  EXPECT_EQ(q.Username, "");
  EXPECT_EQ(q.Password, "");
  EXPECT_EQ(q.Host, "host");
  EXPECT_EQ(q.Path, "/");
}

TEST(Base64, Table) {
  const struct {
    const char* in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"YQ==", "a"},
      {"YWI=", "ab"},
      {"YWJj", "abc"},
      {"dXNlcjpwYTpzcw==", "user:pa:ss"},
      {"AP8=", std::string("\x00\xff", 2)},
  };
  for (const auto& c : cases) EXPECT_EQ(TIdDecoderMIME::DecodeString(c.in), c.out) << c.in;
}

TEST(Base64, RejectsUnevenSizeAndForeignCharacters) {
  for (const char* bad : {"YQ=", "abcde", "Y"}) {
    try {
      TIdDecoderMIME::DecodeString(bad);
      ADD_FAILURE() << bad;
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), "Uneven size in DecodeToStream.");
    }
  }
  for (const char* bad : {"YW!j", "=QYQ", "Y=YQ", "YQ=a"})
    EXPECT_THROW(TIdDecoderMIME::DecodeString(bad), EIdException) << bad;
}

TEST(InternetDates, WritersUseFixedShapes) {
  const TDateTime t = EncodeDateTime(1994, 11, 6, 8, 49, 37);
  const std::string a = DateTimeToInternetStr(t);
  EXPECT_EQ(a.substr(0, 25), "Sun, 6 Nov 1994 08:49:37 ");
  EXPECT_EQ(a.size(), 30u);
  EXPECT_TRUE(a[25] == '+' || a[25] == '-');

  const std::string b = DateTimeToGmtStr(t);
  EXPECT_EQ(b.size(), 29u);
  EXPECT_EQ(b.substr(b.size() - 4), " GMT");
  EXPECT_EQ(b.substr(3, 2), ", ");
}

TEST(InternetDates, WrittenDatesReadBackAsTheSameLocalTime) {
  for (const TDateTime t :
       {EncodeDateTime(1994, 11, 6, 8, 49, 37), EncodeDateTime(2024, 7, 1, 23, 59, 59),
        EncodeDateTime(2031, 1, 1, 0, 0, 1)}) {
    EXPECT_NEAR(InternetStrToDateTime(DateTimeToInternetStr(t)), t, 1e-8);
    EXPECT_NEAR(InternetStrToDateTime(DateTimeToGmtStr(t)), t, 1e-8);
  }
}

TEST(InternetDates, ReaderAcceptsTheThreeHttpFormsAndZones) {
  const TDateTime reference = InternetStrToDateTime("Sun, 06 Nov 1994 08:49:37 GMT");
  ASSERT_GT(reference, 0);
  EXPECT_NEAR(InternetStrToDateTime("Sunday, 06-Nov-94 08:49:37 GMT"), reference, 1e-8);
  EXPECT_NEAR(InternetStrToDateTime("Sun Nov  6 08:49:37 1994"), reference, 1e-8);
  EXPECT_NEAR(InternetStrToDateTime("Sun, 06 Nov 1994 09:49:37 +0100"), reference, 1e-8);
  EXPECT_NEAR(InternetStrToDateTime("Sun, 06 Nov 1994 03:49:37 EST"), reference, 1e-8);
  for (const char* bad : {"", "yesterday", "32 Nov 1994 10:00:00", "Sun, 06 Foo 1994 08:49:37"})
    EXPECT_EQ(InternetStrToDateTime(bad), 0) << bad;
}

}  // namespace
}  // namespace morlak
