#include <gtest/gtest.h>

#include "engine/engine_errors.h"
#include "engine/http_request_response.h"

namespace morlak {
namespace {

TIdHTTPRequestInfo WithHeaders(std::initializer_list<const char*> lines) {
  TIdHTTPRequestInfo r;
  for (const char* l : lines) r.HeaderLines.Add(l);
  r.ProcessHeaders();
  return r;
}

TEST(RequestInfo, TargetGivesDecodedPathRawQueryAndDecodedParams) {
  TIdHTTPRequestInfo r;
  r.ProcessTarget("/a%20b/c%41d.htm?x=1+2&y=%41", true);
  EXPECT_EQ(r.DocumentPath, "/a b/cAd.htm");
  EXPECT_EQ(r.QueryText, "x=1+2&y=%41");
  EXPECT_EQ(r.ParamText, "x=1+2&y=%41");
  EXPECT_EQ(r.ParamList.lines, (std::vector<std::string>{"x=1 2", "y=A"}));
}

TEST(RequestInfo, TargetSpecialCases) {
  const struct {
    const char* target;
    const char* path;
  } cases[] = {
      {"*", "*"},
      {"", ""},
      {"/dir/file=v#x", "/dir/file=v"},
      {"/dir\\sub\\f.htm", "/dir/sub/f.htm"},
      {"/p%2e%2e/x", "/p../x"},
      {"/s=%41", "/s=%41"},
      {"/dir/sub/f.htm?x=%41", "/dir/sub/f.htm"},
      {"/a:b/c.htm", "/a:b/c.htm"},
  };
  for (const auto& c : cases) {
    TIdHTTPRequestInfo r;
    r.ProcessTarget(c.target, true);
    EXPECT_EQ(r.DocumentPath, c.path) << c.target;
  }
}

TEST(RequestInfo, EmptyPiecesBecomeEmptyParamLines) {
  TIdHTTPRequestInfo r;
  r.ProcessTarget("/?a=1&&b=2&", true);
  EXPECT_EQ(r.ParamList.lines, (std::vector<std::string>{"a=1", "", "b=2", ""}));
  TIdHTTPRequestInfo none;
  none.ProcessTarget("/", true);
  EXPECT_TRUE(none.ParamList.Empty());
  TIdHTTPRequestInfo off;
  off.ProcessTarget("/?a=1", false);
  EXPECT_TRUE(off.ParamList.Empty());
  EXPECT_EQ(off.QueryText, "a=1");
}

TEST(RequestInfo, FormBodyJoinsQueryOnlyForExactFormContentType) {
  TIdHTTPRequestInfo form = WithHeaders({"Content-Type: Application/X-WWW-Form-Urlencoded"});
  form.FormText = form.ParamText = "a=1";
  form.ProcessTarget("/f?b=2", true);
  EXPECT_EQ(form.ParamText, "a=1&b=2");
  EXPECT_EQ(form.ParamList.lines, (std::vector<std::string>{"a=1", "b=2"}));

  TIdHTTPRequestInfo charset =
      WithHeaders({"Content-Type: application/x-www-form-urlencoded; charset=UTF-8"});
  charset.FormText = charset.ParamText = "a=1";
  charset.ProcessTarget("/f?b=2", true);
  EXPECT_EQ(charset.ParamText, "a=1&b=2");
  EXPECT_EQ(charset.ParamList.lines, (std::vector<std::string>{"b=2"}));
}

TEST(RequestInfo, AbsoluteUriSuppliesHostOnlyWithoutHostHeader) {
  TIdHTTPRequestInfo bare;
  bare.ProcessTarget("http://example.org:8080/x/y.htm", true);
  EXPECT_EQ(bare.Host, "example.org");
  EXPECT_EQ(bare.DocumentPath, "/x/y.htm");

  TIdHTTPRequestInfo withHost = WithHeaders({"Host: mine"});
  withHost.ProcessTarget("http://example.org/x", true);
  EXPECT_EQ(withHost.Host, "mine");
}

TEST(RequestInfo, HeaderFields) {
  const TIdHTTPRequestInfo r =
      WithHeaders({"Host: h", "User-Agent: ua", "Referer: r", "Accept-Language: nl",
                   "Content-Length:  42 ", "Range: bytes=100-200 x", "Connection: close"});
  EXPECT_EQ(r.Host, "h");
  EXPECT_EQ(r.UserAgent, "ua");
  EXPECT_EQ(r.Referer, "r");
  EXPECT_EQ(r.AcceptLanguage, "nl");
  EXPECT_EQ(r.ContentLength, 42);
  EXPECT_TRUE(r.HasContentLength());
  EXPECT_EQ(r.ContentRangeStart, 100);
  EXPECT_EQ(r.ContentRangeEnd, 200);
  EXPECT_EQ(r.Connection, "close");

  EXPECT_EQ(WithHeaders({"Content-Length: many"}).ContentLength, -1);
  EXPECT_FALSE(WithHeaders({}).HasContentLength());
  EXPECT_EQ(WithHeaders({"Range: bytes=-500"}).ContentRangeStart, 0);
  EXPECT_EQ(WithHeaders({"Range: bytes=-500"}).ContentRangeEnd, 500);
  EXPECT_EQ(WithHeaders({"Date: garbage"}).Date, 0);
  EXPECT_GT(WithHeaders({"Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT"}).LastModified, 0);

  // The first line of a name wins, names match in any letter case, continuation lines
  // join the value, and a name must match whole.
  const TIdHTTPRequestInfo folded =
      WithHeaders({"x-user-agent: no", "user-AGENT: first", "  part two ", "User-Agent: second",
                   "Hosts: no", "HOST : no", "Content-type:text/plain"});
  EXPECT_EQ(folded.UserAgent, "first part two");
  EXPECT_EQ(folded.Host, "");
  EXPECT_EQ(folded.ContentType, "text/plain");
}

TEST(RequestInfo, ExpiresAsSecondsCountsFromNowEvenPastOneDay) {
  SetFixedNow(EncodeDateTime(2024, 1, 1, 12, 0, 0));
  EXPECT_DOUBLE_EQ(WithHeaders({"Expires: 3600"}).Expires, EncodeDateTime(2024, 1, 1, 13, 0, 0));
  EXPECT_DOUBLE_EQ(WithHeaders({"Expires: 172800"}).Expires, EncodeDateTime(2024, 1, 3, 12, 0, 0));
  SetFixedNow(std::nullopt);
}

TEST(RequestInfo, BasicAuthorization) {
  TIdHTTPRequestInfo r = WithHeaders({"Authorization: basic dXNlcjpwYTpzcw=="});
  r.ProcessAuthorization();
  EXPECT_TRUE(r.AuthPresent);
  EXPECT_EQ(r.AuthUser, "user");
  EXPECT_EQ(r.AuthPassword, "pa:ss");

  TIdHTTPRequestInfo none = WithHeaders({});
  none.ProcessAuthorization();
  EXPECT_FALSE(none.AuthPresent);
}

TEST(RequestInfo, AuthorizationFailures) {
  TIdHTTPRequestInfo digest = WithHeaders({"Authorization: Digest abc"});
  try {
    digest.ProcessAuthorization();
    ADD_FAILURE();
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Unsupported authorization scheme.");
  }
  TIdHTTPRequestInfo uneven = WithHeaders({"Authorization: Basic abc"});
  EXPECT_THROW(uneven.ProcessAuthorization(), EIdException);
}

TEST(ResponseInfo, StatusTableAndNotFoundClosesTheConnection) {
  EXPECT_STREQ(HTTPStatusText(200), "OK");
  EXPECT_STREQ(HTTPStatusText(302), "Moved Temporarily");
  EXPECT_STREQ(HTTPStatusText(413), "Request Entity To Long");
  EXPECT_STREQ(HTTPStatusText(504), "Gateway timeout");
  EXPECT_STREQ(HTTPStatusText(299), "Unknown Response Code");
}

}  // namespace
}  // namespace morlak
