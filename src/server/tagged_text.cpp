#include "server/tagged_text.h"

#include <algorithm>

#include "platform/text.h"

namespace morlak {

namespace {

// The value as the page's line rule leaves it: CR, LF and CR LF become CR LF. Returns
// false when a NUL cut the value, which ends the whole text.
bool NormalizeValue(std::string_view value, std::string& out) {
  out.clear();
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\0') return false;
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return true;
}

}  // namespace

std::vector<TaggedText::Range>::const_iterator TaggedText::LiteralAfter(size_t position) const {
  return std::upper_bound(literals_.begin(), literals_.end(), position,
                          [](size_t p, const Range& r) { return p < r.second; });
}

size_t TaggedText::Find(std::string_view needle, size_t from) const {
  size_t pos = text_.find(needle, from);
  while (pos != std::string::npos) {
    const auto literal = LiteralAfter(pos);
    if (literal == literals_.end() || literal->first >= pos + needle.size()) return pos;
    pos = text_.find(needle, literal->first <= pos ? literal->second : pos + 1);
  }
  return pos;
}

size_t TaggedText::FindClose(size_t from) const {
  const size_t pos = text_.find(')', from);
  if (pos == std::string::npos) return pos;
  const auto literal = LiteralAfter(from);
  return literal != literals_.end() && literal->first <= pos ? std::string::npos : pos;
}

void TaggedText::ReplaceAll(std::string_view pattern, std::string_view value, bool literal,
                            size_t firstHit) {
  Replace(pattern, value, literal, firstHit, true);
}

void TaggedText::ReplaceFirst(std::string_view pattern, std::string_view value, bool literal) {
  Replace(pattern, value, literal, std::string::npos, false);
}

void TaggedText::Replace(std::string_view pattern, std::string_view value, bool literal,
                         size_t firstHit, bool all) {
  // Every replacement leaves the text split into lines joined with CR LF. Doing that once
  // before the first one, and to each value as it goes in, gives the same text, because
  // a tag neither begins nor ends with a line break.
  std::string normalizedPattern;
  if (!normalized_) {
    text_ = JoinLinesCrLf(SplitLines(text_));
    normalized_ = true;
    NormalizeValue(pattern, normalizedPattern);
    pattern = normalizedPattern;
    firstHit = std::string::npos;
  }
  if (pattern.empty()) return;
  std::vector<size_t> hits;
  for (size_t hit = firstHit == std::string::npos ? Find(pattern) : firstHit;
       hit != std::string::npos; hit = Find(pattern, hit + pattern.size())) {
    hits.push_back(hit);
    if (!all) break;
  }
  if (!hits.empty()) Splice(hits, pattern.size(), value, literal);
}

void TaggedText::Splice(const std::vector<size_t>& hits, size_t length, std::string_view value,
                        bool literal) {
  std::string inserted;
  const bool whole = NormalizeValue(value, inserted);

  std::string out;
  out.reserve(text_.size() + hits.size() * inserted.size());
  std::vector<Range> literals;
  literals.reserve(literals_.size() + (literal ? hits.size() : 0));
  auto old = literals_.cbegin();
  size_t copied = 0;  // text_ before this position is in `out`
  auto copyUpTo = [&](size_t end) {
    for (; old != literals_.cend() && old->first <= end; ++old) {
      const size_t begin = out.size() + (old->first - copied);
      literals.emplace_back(begin, begin + (old->second - old->first));
    }
    out.append(text_, copied, end - copied);
  };
  for (const size_t hit : hits) {
    copyUpTo(hit);
    // An empty literal part still parts the text around it, so no tag forms across it.
    if (literal) literals.emplace_back(out.size(), out.size() + inserted.size());
    out += inserted;
    copied = hit + length;
    if (!whole) {
      if (!out.empty() && out.back() != '\n') out += "\r\n";
      text_ = std::move(out);
      literals_ = std::move(literals);
      return;
    }
  }
  copyUpTo(text_.size());
  text_ = std::move(out);
  literals_ = std::move(literals);
}

}  // namespace morlak
