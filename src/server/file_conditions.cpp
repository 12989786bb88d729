#include "server/file_conditions.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <optional>

#include "engine/http_codings.h"
#include "platform/text.h"

namespace morlak {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

// At least one decimal digit and nothing else. Values past the largest number stay there,
// so a 20-digit position is simply past the end of any file.
bool ReadPosition(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    value = value > (INT64_MAX - digit) / 10 ? INT64_MAX : value * 10 + digit;
  }
  return true;
}

enum class RangeResult { kIgnored, kPart, kUnsatisfiable };

// One "bytes=" range against a file of `size` bytes; a header naming several ranges, or
// one that cannot be read, is ignored.
RangeResult ReadRange(std::string_view header, int64_t size, int64_t& first, int64_t& last) {
  const size_t eq = header.find('=');
  if (eq == std::string_view::npos || !SameText(TrimView(header.substr(0, eq)), "bytes"))
    return RangeResult::kIgnored;
  const std::string_view set = header.substr(eq + 1);
  std::string_view range;
  // Empty list elements are allowed; the search ends at the second range, however many
  // follow.
  for (size_t start = 0;;) {
    const size_t comma = set.find(',', start);
    const std::string_view element =
        TrimView(set.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (!element.empty()) {
      if (!range.empty()) return RangeResult::kIgnored;
      range = element;
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  const size_t dash = range.find('-');
  if (dash == std::string_view::npos) return RangeResult::kIgnored;
  int64_t from = 0, to = INT64_MAX;
  if (dash == 0) {
    if (!ReadPosition(range.substr(1), to)) return RangeResult::kIgnored;
    if (to == 0 || size == 0) return RangeResult::kUnsatisfiable;
    first = size - std::min(to, size);
    last = size - 1;
    return RangeResult::kPart;
  }
  const std::string_view end = range.substr(dash + 1);
  if (!ReadPosition(range.substr(0, dash), from) ||
      (!end.empty() && (!ReadPosition(end, to) || to < from)))
    return RangeResult::kIgnored;
  if (from >= size) return RangeResult::kUnsatisfiable;
  first = from;
  last = std::min(to, size - 1);
  return RangeResult::kPart;
}

// Whether a list of entity tags ("*", or quoted tags with commas between) names `tag`.
// The weak comparison ignores "W/" on both sides; the strong one needs both strong.
bool ListNames(std::string_view list, std::string_view tag, bool weakComparison) {
  list = TrimView(list);
  if (list == "*") return true;
  const bool tagWeak = tag.starts_with("W/");
  if (tagWeak && !weakComparison) return false;
  const std::string_view opaque = tagWeak ? tag.substr(2) : tag;
  for (size_t i = 0; i < list.size();) {
    if (list[i] == ' ' || list[i] == '\t' || list[i] == ',') {
      ++i;
      continue;
    }
    const bool weak = list.substr(i, 2) == "W/";
    if (weak) i += 2;
    if (i >= list.size() || list[i] != '"') return false;
    const size_t close = list.find('"', i + 1);
    if (close == std::string_view::npos) return false;
    if ((weakComparison || !weak) && list.substr(i, close + 1 - i) == opaque) return true;
    i = close + 1;
  }
  return false;
}

// The request's conditional and range headers, read in one pass over its lines: the
// tag lists join every line of their name, the others take the first line's value.
struct ConditionHeaders {
  std::string ifMatch, ifNoneMatch, ifUnmodifiedSince, ifModifiedSince, range, ifRange;

  explicit ConditionHeaders(const TIdHeaderList& headers) {
    const struct {
      std::string_view name;
      std::string* value;
      bool list;
    } wanted[] = {
        {"If-Match", &ifMatch, true},
        {"If-None-Match", &ifNoneMatch, true},
        {"If-Unmodified-Since", &ifUnmodifiedSince, false},
        {"If-Modified-Since", &ifModifiedSince, false},
        {"Range", &range, false},
        {"If-Range", &ifRange, false},
    };
    uint32_t taken = 0;
    for (size_t i = 0; i < headers.lines.size(); ++i) {
      const std::string_view name = headers.NameOf(i);
      for (size_t w = 0; w < std::size(wanted); ++w) {
        if (name.size() != wanted[w].name.size() || !SameText(name, wanted[w].name)) continue;
        std::string& value = *wanted[w].value;
        if (wanted[w].list) {
          if (!value.empty()) value += ',';
          value += headers.ValueAt(i);
        } else if (!(taken >> w & 1)) {
          value = headers.ValueAt(i);
          taken |= uint32_t{1} << w;
        }
        break;
      }
    }
  }
};

std::optional<int64_t> DateValue(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return InternetStrToUnixTime(text);
}

// An empty If-Range holds; a tag holds when it is this version's strong tag, a date when
// it is this version's strong modification time.
bool IfRangeHolds(std::string_view value, const FileVersion& version, std::string_view tag) {
  value = TrimView(value);
  if (value.empty()) return true;
  if (!version.strong) return false;
  if (value.front() == '"' || value.starts_with("W/")) return value == tag;
  const std::optional<int64_t> date = InternetStrToUnixTime(value);
  return date && *date == version.ModifiedSeconds();
}

FileAnswer Bodiless(FileAnswer answer, int status) {
  answer.status = status;
  answer.length = 0;
  return answer;
}

}  // namespace

FileVersion FileVersion::Of(int64_t size, int64_t modifiedNs, int64_t nowSeconds) {
  FileVersion version{size, modifiedNs, true};
  version.strong = version.ModifiedSeconds() + 1 < nowSeconds;
  return version;
}

int64_t FileVersion::ModifiedSeconds() const {
  const int64_t seconds = modifiedNs / kNsPerSecond;
  return modifiedNs % kNsPerSecond < 0 ? seconds - 1 : seconds;
}

size_t FileVersion::FormatETag(char (&text)[kETagSize]) const {
  // At most 2 + 1 + 16 + 1 + 16 + 1 characters; to_chars costs a fraction of printf's.
  char* out = text;
  if (!strong) out = std::copy_n("W/", 2, out);
  *out++ = '"';
  out = std::to_chars(out, std::end(text), static_cast<uint64_t>(modifiedNs), 16).ptr;
  *out++ = '-';
  out = std::to_chars(out, std::end(text), static_cast<uint64_t>(size), 16).ptr;
  *out++ = '"';
  return static_cast<size_t>(out - text);
}

std::string FileAnswer::ContentRange() const {
  if (status == 416) return "bytes */" + std::to_string(size);
  if (status != 206) return std::string();
  return "bytes " + std::to_string(offset) + "-" + std::to_string(offset + length - 1) + "/" +
         std::to_string(size);
}

FileAnswer ChooseFileAnswer(const TIdHeaderList& headers, std::string_view method,
                            const FileVersion& version, int64_t nowSeconds) {
  FileAnswer answer;
  answer.size = version.size;
  answer.length = version.size;
  const bool get = method == "GET";
  if (!get && method != "HEAD") return answer;
  const ConditionHeaders h(headers);
  // Only a tag list or If-Range reads the tag.
  char tagText[FileVersion::kETagSize];
  const std::string_view tag(tagText,
                             h.ifMatch.empty() && h.ifNoneMatch.empty() && h.ifRange.empty()
                                 ? 0
                                 : version.FormatETag(tagText));
  const int64_t modified = version.ModifiedSeconds();

  if (!h.ifMatch.empty()) {
    if (!ListNames(h.ifMatch, tag, false)) return Bodiless(answer, 412);
  } else if (const auto date = DateValue(h.ifUnmodifiedSince); date && modified > *date) {
    return Bodiless(answer, 412);
  }
  if (!h.ifNoneMatch.empty()) {
    if (ListNames(h.ifNoneMatch, tag, true)) return Bodiless(answer, 304);
  } else if (const auto date = DateValue(h.ifModifiedSince);
             // A date still to come is no date this server gave.
             date && *date <= nowSeconds && modified <= *date) {
    return Bodiless(answer, 304);
  }

  if (!get) return answer;
  if (h.range.empty() || !IfRangeHolds(h.ifRange, version, tag)) return answer;
  int64_t first = 0, last = 0;
  switch (ReadRange(h.range, version.size, first, last)) {
    case RangeResult::kIgnored:
      return answer;
    case RangeResult::kUnsatisfiable:
      return Bodiless(answer, 416);
    case RangeResult::kPart:
      break;
  }
  answer.status = 206;
  answer.offset = first;
  answer.length = last - first + 1;
  return answer;
}

}  // namespace morlak
