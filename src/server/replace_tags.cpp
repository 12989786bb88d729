#include "server/replace_tags.h"

#include <optional>
#include <string_view>
#include <type_traits>

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "server/directory_listing.h"
#include "server/figures.h"
#include "server/tagged_text.h"

namespace morlak {

namespace {

// Where a tag's value comes from decides whether later tags may be found in it.
enum class Origin { kServer, kClient };

struct SimpleTag {
  std::string_view name;
  Origin origin;
  std::function<std::string(const TagContext&)> value;
};

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string JoinHeaders(const TStringList* headers) {
  std::string out;
  if (!headers) return out;
  for (size_t i = 0; i < headers->lines.size(); ++i) {
    if (i > 0) out += "\r\n";
    out += headers->lines[i];
  }
  return out;
}

int64_t BytesDownloaded(const TagContext& ctx) {
  return ctx.statistics ? ctx.statistics->GetBytesDownloaded() : 0;
}

const SimpleTag kSimpleTags[] = {
    {"||BUILD", Origin::kServer, [](auto& c) { return std::to_string(c.buildNumber); }},
    {"||SERVER", Origin::kServer, [](auto& c) { return c.serverSoftware; }},
    {"||UPTIME", Origin::kServer,
     [](auto& c) { return FormatFixed(HoursSince(c.serverStartTime), 2); }},
    {"||CONNECTIONS", Origin::kServer,
     [](auto& c) { return std::to_string(c.statistics ? c.statistics->GetConnections() : 0); }},
    {"||CLIENTS", Origin::kServer, [](auto& c) { return std::to_string(c.clientCount); }},
    {"||SESSIONS", Origin::kServer,
     [](auto& c) { return std::to_string(c.statistics ? c.statistics->GetSessions() : 0); }},
    {"||BDOWNLOADED", Origin::kServer,
     [](auto& c) {
       return FormatBytesDownloaded(BytesDownloaded(c),
                                    c.statistics ? c.statistics->GetGigasDownloaded() : 0);
     }},
    {"||TIME", Origin::kServer, [](auto&) { return FormatLongTime(Now()); }},
    {"||DATE", Origin::kServer, [](auto&) { return FormatShortDate(Now()); }},
    {"||USER", Origin::kClient, [](auto& c) { return c.user; }},
    {"||IP", Origin::kServer, [](auto& c) { return c.clientAddress; }},
    {"||PORT", Origin::kServer, [](auto& c) { return c.clientPort; }},
    {"||SECURE", Origin::kServer, [](auto& c) { return c.secure; }},
    {"||BDOWNAVG", Origin::kServer,
     [](auto& c) { return FormatDownloadRate(BytesDownloaded(c), HoursSince(c.serverStartTime)); }},
    {"||AGENT", Origin::kClient, [](auto& c) { return c.userAgent; }},
    {"||REFERER", Origin::kClient, [](auto& c) { return c.referer; }},
    {"||ACCEPTLANG", Origin::kClient, [](auto& c) { return c.acceptLanguage; }},
    {"||UNPARSEDPAR", Origin::kClient, [](auto& c) { return c.paramText; }},
    {"||REQUESTHEAD", Origin::kClient, [](auto& c) { return JoinHeaders(c.requestHeaders); }},
};

void Log(const TagContext& ctx, const std::string& event) {
  if (ctx.logWindow) ctx.logWindow(ctx.requestPrefix + "> " + event);
}

void LogMissing(const TagContext& ctx, std::string_view tag, const std::string& argument) {
  Log(ctx, "file does not exist (||" + std::string(tag) + " = " + argument + ")");
}

void ReplaceSimpleTags(TaggedText& page, const TagContext& ctx) {
  for (const SimpleTag& tag : kSimpleTags) {
    const size_t first = page.Find(tag.name);
    if (first == std::string::npos) continue;
    std::string value = tag.value(ctx);
    const bool fromClient = tag.origin == Origin::kClient;
    if (fromClient && ctx.htmlEscapeClientValues) value = HtmlEscape(value);
    page.ReplaceAll(tag.name, value, fromClient, first);
  }
}

// Only the first ||DIRLIST( of a page is handled.
void ReplaceDirList(TaggedText& page, const TagContext& ctx) {
  constexpr std::string_view kTag = "||DIRLIST(";
  const size_t p = page.Find(kTag);
  if (p == std::string::npos) return;
  const size_t start = p + kTag.size();
  const size_t close = page.FindClose(start);
  if (close == std::string::npos || close <= start) return;
  const std::string argument = page.Text().substr(start, close - start);
  const size_t semicolon = argument.find(';');
  if (semicolon == std::string::npos) {
    Log(ctx, "||DIRLIST tag does not contain valid info (" + argument + ")");
    return;
  }
  std::string directory = argument.substr(semicolon + 1);
  if (!directory.empty() && directory[0] != kPathSeparator) directory.insert(0, ctx.pageFolder);
  if (!DirectoryExists(directory)) {
    Log(ctx, "directory does not exist (||DIRLIST = " + directory + ")");
    return;
  }
  page.ReplaceFirst(std::string(kTag) + argument + ")",
                    BuildDirectoryListing(argument.substr(0, semicolon), directory), false);
}

// The value for one argument, or nullopt to leave the tag in place.
using TagAction = std::optional<std::string> (*)(const TagContext&, const std::string&);

std::optional<std::string> FileSizeValue(const TagContext& ctx, const std::string& path) {
  if (!FileExists(path)) {
    LogMissing(ctx, "FILESIZE", path);
    return std::nullopt;
  }
  try {
    const TFileStream file(path, TFileStream::Mode::kRead);
    return std::to_string(file.Size()) + "b";
  } catch (const EStreamError&) {
    return "ERR: get file size";
  }
}

std::optional<std::string> FileDateValue(const TagContext& ctx, const std::string& path) {
  if (!FileExists(path)) {
    LogMissing(ctx, "FILEAGE", path);
    return "ERR: file not found";
  }
  const auto modified = FileModTime(path);
  return modified ? FormatShortDate(*modified) : "ERR: get file age";
}

template <typename T, bool (MonitoredFiles::*Get)(const std::string&, T&) const>
std::optional<std::string> MonitorValue(const TagContext& ctx, const std::string& name,
                                        std::string_view tag) {
  T value{};
  if (!ctx.monitoredFiles || !(ctx.monitoredFiles->*Get)(name, value)) {
    LogMissing(ctx, tag, name);
    return "ERR: file not found";
  }
  if constexpr (std::is_floating_point_v<T>)
    return FormatFixed(value, 1);
  else
    return std::to_string(value);
}

struct LoopedTag {
  std::string_view name;
  TagAction action;
};

const LoopedTag kLoopedTags[] = {
    {"||FILESIZE(", FileSizeValue},
    {"||FILEDATE(", FileDateValue},
    {"||MONITORCOUNT(",
     [](auto& c, auto& a) {
       return MonitorValue<int32_t, &MonitoredFiles::GetMonitoredCount>(c, a, "MONITORCOUNT");
     }},
    {"||MONITORTODAY(",
     [](auto& c, auto& a) {
       return MonitorValue<int32_t, &MonitoredFiles::GetMonitoredToday>(c, a, "MONITORTODAY");
     }},
    {"||MONITORAVGPERDAY(",
     [](auto& c, auto& a) {
       return MonitorValue<double, &MonitoredFiles::GetMonitoredAvgPerDay>(c, a,
                                                                           "MONITORAVGPERDAY");
     }},
};

// The search goes on 11 characters after each tag whatever its length, so a value shorter
// than 11 characters hides a tag right behind it; pages rely on exactly this.
void ReplaceLoopedTag(TaggedText& page, const TagContext& ctx, const LoopedTag& tag) {
  constexpr size_t kStep = 11;
  for (size_t p = page.Find(tag.name); p != std::string::npos; p = page.Find(tag.name, p + kStep)) {
    const size_t start = p + tag.name.size();
    const size_t close = page.FindClose(start);
    if (close == std::string::npos || close <= start) continue;
    const std::string argument = page.Text().substr(start, close - start);
    if (const auto value = tag.action(ctx, argument))
      page.ReplaceAll(std::string(tag.name) + argument + ")", *value, false);
  }
}

}  // namespace

bool IsMarkupContentType(std::string_view contentType) {
  const std::string type = LowerCase(TrimView(contentType.substr(0, contentType.find(';'))));
  return type.empty() || type.find("html") != std::string::npos ||
         type.find("xml") != std::string::npos;
}

std::string ReplaceTags(std::string text, const TagContext& ctx) {
  // Every tag starts with "||", and nothing is inserted before a tag is found.
  if (text.find("||") == std::string::npos) return text;
  TaggedText page(std::move(text));
  ReplaceSimpleTags(page, ctx);
  ReplaceDirList(page, ctx);
  for (const LoopedTag& tag : kLoopedTags) ReplaceLoopedTag(page, ctx, tag);
  return page.Take();
}

}  // namespace morlak
