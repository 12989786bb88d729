#include "engine/cookies.h"

#include <cstdio>

#include "engine/header_list.h"
#include "engine/http_codings.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace morlak {

namespace {

// Appends "; name=value" to the cookie text that starts at `start` of `text` (no "; "
// before its first part).
void AppendPart(std::string& text, size_t start, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  if (text.size() > start) text += "; ";
  text += name;
  text += '=';
  text += value;
}

// "Sun, 6-Nov-1994 08:49:37 GMT" of now plus the given seconds.
std::string ExpiresText(int64_t maxAgeSeconds) {
  const DateTimeParts p =
      DecodeDateTime(LocalToUtc(Now()) + static_cast<double>(maxAgeSeconds) / 86400.0);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d-%s-%d %02d:%02d:%02d GMT", kDayWords[p.dayOfWeek], p.day,
                kMonthWords[p.month - 1], p.year, p.hour, p.minute, p.second);
  return buf;
}

// One trimmed, non-empty "name=value" text; the header is cut at every ";" first, so a
// cookie text never carries attributes.
TIdCookieRFC2109 ParseCookieText(std::string_view part) {
  const size_t eq = part.find('=');
  TIdCookieRFC2109 cookie;
  cookie.Name.assign(part.substr(0, eq));
  if (eq != std::string_view::npos) cookie.Value.assign(part.substr(eq + 1));
  return cookie;
}

}  // namespace

std::string TIdCookieRFC2109::CookieText() const {
  std::string text;
  // Room for the usual parts, so the text is not regrown while it is built.
  text.reserve(96 + Name.size() + Value.size() + Path.size() + Domain.size());
  AppendCookieText(text);
  return text;
}

void TIdCookieRFC2109::AppendCookieText(std::string& text) const {
  const size_t start = text.size();
  AppendPart(text, start, Name, Value);
  AppendPart(text, start, "path", Path);
  std::string computedExpiry;
  std::string_view expires = Expires;
  if (IsServerCookie) {
    if (MaxAge >= 0) expires = computedExpiry = ExpiresText(MaxAge);
    AppendPart(text, start, "expires", expires);
  }
  AppendPart(text, start, "domain", Domain);
  if (Secure) text += text.size() == start ? "secure" : "; secure";
  if (MaxAge >= 0 && expires.empty()) AppendPart(text, start, "max-age", std::to_string(MaxAge));
  AppendPart(text, start, "comment", Comment);
  AppendPart(text, start, "version", Version);
  if (HttpOnly) text += "; HttpOnly";
  AppendPart(text, start, "SameSite", SameSite);
}

const TIdCookieRFC2109* TIdCookies::Find(std::string_view name) const {
  for (const auto& c : items)
    if (SameText(c.Name, name)) return &c;
  return nullptr;
}

void TIdCookies::AddFromRequestHeaders(const TIdHeaderList& headers) {
  TStringList values;
  headers.ExtractValues("cookie", values);
  for (const std::string& value : values.lines) {
    std::string_view rest = value;
    while (!rest.empty()) {
      const size_t semi = rest.find(';');
      const std::string_view part = TrimView(rest.substr(0, semi));
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      if (part.empty()) continue;
      // A cookie object is far larger than its text; past the limit a request of tiny
      // cookies would cost many times its own size.
      if (items.size() >= kMaxRequestCookies) return;
      Add(ParseCookieText(part));
    }
  }
}

}  // namespace morlak
