// Cookies: the request's "Cookie" headers parsed into a collection, and the
// "Set-Cookie" text of the response's cookies.
// TIdCookieRFC2109 is one cookie, TIdServerCookie one to send; TIdCookies holds them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morlak {

class TIdHeaderList;

struct TIdCookieRFC2109 {
  std::string Name, Value, Path, Domain, Expires, Comment, Version;
  bool Secure = false;
  int64_t MaxAge = -1;  // -1: none
  // A server cookie with a max-age writes it as an "expires" date instead.
  bool IsServerCookie = false;
  bool HttpOnly = false;  // kept from page scripts
  std::string SameSite;   // empty: not written

  // The text after "Set-Cookie: ".
  std::string CookieText() const;
  // The same text appended to `text`.
  void AppendCookieText(std::string& text) const;
};

// A cookie the server sets: path, domain and an expiry computed from max-age.
struct TIdServerCookie : TIdCookieRFC2109 {
  TIdServerCookie(std::string name, std::string value, std::string path = "/") {
    Name = std::move(name);
    Value = std::move(value);
    Path = std::move(path);
    IsServerCookie = true;
  }
};

class TIdCookies {
 public:
  std::vector<TIdCookieRFC2109> items;

  // Moved in once: a cookie is eight strings, and a new session adds one per request.
  void Add(TIdCookieRFC2109&& cookie) { items.push_back(std::move(cookie)); }
  size_t Count() const { return items.size(); }
  const TIdCookieRFC2109& operator[](size_t i) const { return items[i]; }
  // The first cookie with that name (without regard to case), or nullptr.
  const TIdCookieRFC2109* Find(std::string_view name) const;

  // Adds one cookie per non-empty "name=value" piece of every "Cookie" header, up to
  // kMaxRequestCookies; further pieces are ignored.
  void AddFromRequestHeaders(const TIdHeaderList& headers);
  static constexpr size_t kMaxRequestCookies = 1000;
};

}  // namespace morlak
