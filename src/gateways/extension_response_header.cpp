// A header text written by an extension library, applied to the response field by field.
// Only the fields below reach the client; other lines are dropped, so a library cannot
// inject header lines of its own.
#include "engine/http_codings.h"
#include "engine/http_request_response.h"
#include "gateways/extension_control_block.h"
#include "platform/datetime.h"

namespace morlak {

namespace {

// "name=value; path=/; expires=...; domain=...; secure; max-age=...; version=...; comment=..."
TIdCookieRFC2109 ParseSetCookie(std::string_view text) {
  TIdCookieRFC2109 cookie;
  bool first = true;
  while (!text.empty()) {
    const size_t semi = text.find(';');
    const std::string part = Trim(text.substr(0, semi));
    text.remove_prefix(semi == std::string_view::npos ? text.size() : semi + 1);
    const size_t eq = part.find('=');
    const std::string name = Trim(part.substr(0, eq));
    const std::string value = eq == std::string::npos ? "" : Trim(part.substr(eq + 1));
    if (first) {
      cookie.Name = name;
      cookie.Value = value;
      first = false;
      continue;
    }
    const std::string key = UpperCase(name);
    if (key == "PATH") {
      cookie.Path = value.size() >= 2 && value.front() == '"' && value.back() == '"'
                        ? value.substr(1, value.size() - 2)
                        : value;
    } else if (key == "EXPIRES") {
      cookie.Expires = value;
    } else if (key == "DOMAIN") {
      cookie.Domain = value;
    } else if (key == "SECURE") {
      cookie.Secure = true;
    } else if (key == "MAX-AGE") {
      int64_t age;
      if (TryParseInt64(value, age)) cookie.MaxAge = age;
    } else if (key == "VERSION") {
      cookie.Version = value;
    } else if (key == "COMMENT") {
      cookie.Comment = value;
    }
  }
  return cookie;
}

}  // namespace

bool ApplyHeaderText(TIdHTTPResponseInfo& response, const std::string& headerText) {
  static constexpr std::string_view kSetCookie = "Set-Cookie: ";
  for (const std::string& line : SplitLines(headerText)) {
    if (line.compare(0, kSetCookie.size(), kSetCookie) == 0) {
      response.ResponseCookies.Add(
          ParseSetCookie(std::string_view(line).substr(kSetCookie.size())));
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = Trim(std::string_view(line).substr(0, colon));
    const std::string value = Trim(std::string_view(line).substr(colon + 1));
    if (SameText(name, "Content-type")) {
      if (!value.empty()) response.ContentType = value;
    } else if (SameText(name, "Location")) {
      response.Location = value;
      if (!value.empty()) response.SetStatusCode(302);
    } else if (SameText(name, "Pragma")) {
      response.Pragma = value;
    } else if (SameText(name, "Date") || SameText(name, "Last-Modified")) {
      TDateTime when;
      if (!TryParseShortDateLongTime(value, when)) return false;
      (SameText(name, "Date") ? response.Date : response.LastModified) = when;
    } else if (SameText(name, "Expires")) {
      const TDateTime when = InternetStrToDateTime(value);
      if (when == 0) return false;
      response.Expires = when;
    }
  }
  return true;
}

}  // namespace morlak
