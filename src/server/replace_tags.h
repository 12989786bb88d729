// The replace-tag language of pages: ||BUILD, ||UPTIME, ||DIRLIST( ... substituted with
// live values before a page is sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/datetime.h"
#include "platform/text.h"
#include "stores/monitored_files.h"
#include "stores/statistics.h"

namespace morlak {

// What the tags of one request can show.
struct TagContext {
  // From the request and its connection.
  std::string user;
  std::string clientAddress;
  std::string clientPort;
  std::string secure = "false";  // "true" on the TLS listener
  std::string userAgent;
  std::string referer;
  std::string acceptLanguage;
  std::string paramText;                        // the undecoded parameters
  const TStringList* requestHeaders = nullptr;  // "Name: value" lines

  // From the server.
  std::string serverSoftware;  // of the plain listener, also on HTTPS
  int32_t buildNumber = 0;
  int32_t clientCount = 0;
  TDateTime serverStartTime = 0;
  const Statistics* statistics = nullptr;          // null: every figure is 0
  const MonitoredFiles* monitoredFiles = nullptr;  // null: no file is monitored

  // Log lines about tags go to the log window only; each starts with the request prefix
  // ("HTTP://host> address:port, user").
  std::function<void(const std::string&)> logWindow;
  std::string requestPrefix;

  // For pages a browser may read as markup: values that come from the client are
  // HTML-escaped as well.
  bool htmlEscapeClientValues = false;
  // The folder of the page, with its separator: a ||DIRLIST folder that is not absolute
  // lies under it, so a site keeps working wherever it is installed.
  std::string pageFolder;
};

// True for a content type a browser may take as HTML or XML: any html or xml type, with
// or without parameters, and no type at all (browsers guess from the content).
bool IsMarkupContentType(std::string_view contentType);

// Replaces every tag in `text`, tag after tag in their fixed order. Values that come
// from the client (user, agent, referer, languages, parameters, request headers) go in
// as plain text in which no later tag is looked for. Once anything is replaced the text
// is in CR LF lines. Errors other than the per-tag ones propagate to the caller.
std::string ReplaceTags(std::string text, const TagContext& ctx);

}  // namespace morlak
