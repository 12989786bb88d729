#include "engine/cookies.h"

#include <gtest/gtest.h>

#include "engine/header_list.h"

namespace morlak {
namespace {

TEST(Cookies, RequestHeadersGiveOneCookiePerPair) {
  TIdHeaderList h;
  h.Add("Cookie: a=1; IDHTTPSESSIONID=abc ;  b = two");
  h.Add("Host: x");
  h.Add("cookie: c=3;");
  h.Add("Cookie: flag");
  TIdCookies cookies;
  cookies.AddFromRequestHeaders(h);
  ASSERT_EQ(cookies.Count(), 5u);
  EXPECT_EQ(cookies[0].Name, "a");
  EXPECT_EQ(cookies[0].Value, "1");
  EXPECT_EQ(cookies[1].Name, "IDHTTPSESSIONID");
  EXPECT_EQ(cookies[1].Value, "abc");
  EXPECT_EQ(cookies[2].Name, "b ");
  EXPECT_EQ(cookies[2].Value, " two");
  EXPECT_EQ(cookies[3].Name, "c");
  EXPECT_EQ(cookies[4].Name, "flag");
  EXPECT_EQ(cookies[4].Value, "");
  EXPECT_EQ(cookies.Find("idhttpsessionid"), &cookies[1]);
  EXPECT_EQ(cookies.Find("zzz"), nullptr);
}

TEST(Cookies, SessionCookieTextHasNameValueAndPathOnly) {
  EXPECT_EQ(TIdServerCookie("IDHTTPSESSIONID", "abcdefghijklmno").CookieText(),
            "IDHTTPSESSIONID=abcdefghijklmno; path=/");
}

TEST(Cookies, AttributesInOrder) {
  TIdCookieRFC2109 c{.Name = "n",
                     .Value = "v",
                     .Path = "/p",
                     .Domain = "example.org",
                     .Expires = "",
                     .Comment = "hi",
                     .Version = "1",
                     .Secure = true,
                     .MaxAge = 60,
                     .IsServerCookie = false,
                     .HttpOnly = true,
                     .SameSite = "Lax"};
  EXPECT_EQ(c.CookieText(),
            "n=v; path=/p; domain=example.org; secure; max-age=60; comment=hi; version=1; "
            "HttpOnly; SameSite=Lax");
  c.Value.clear();
  EXPECT_EQ(c.CookieText().substr(0, 7), "path=/p");
}

TEST(Cookies, ServerCookieWithMaxAgeWritesAnExpiryDate) {
  TIdServerCookie c("n", "v");
  c.MaxAge = 0;
  const std::string text = c.CookieText();
  // "n=v; path=/; expires=Www, d-Mmm-yyyy hh:nn:ss GMT", never a max-age.
  EXPECT_EQ(text.rfind("n=v; path=/; expires=", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - 4), " GMT");
  EXPECT_EQ(text.find("max-age"), std::string::npos);
  EXPECT_NE(text.find('-'), std::string::npos);
}

}  // namespace
}  // namespace morlak
