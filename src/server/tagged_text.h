// A page under tag replacement. Values that came from the client are marked literal:
// tags are looked for only outside them, so a client cannot plant a tag in the page.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morlak {

class TaggedText {
 public:
  explicit TaggedText(std::string text) : text_(std::move(text)) {}

  const std::string& Text() const { return text_; }
  std::string Take() { return std::move(text_); }

  // First occurrence of `needle` at or after `from` that lies wholly outside literal
  // parts; npos if none.
  size_t Find(std::string_view needle, size_t from = 0) const;
  // First ")" at or after `from` with no literal part between; npos if none.
  size_t FindClose(size_t from) const;

  // Replaces every occurrence outside literal parts (the first at `firstHit` when known)
  // in one pass. Line breaks in the value become CR LF; a NUL in it ends the text.
  void ReplaceAll(std::string_view pattern, std::string_view value, bool literal,
                  size_t firstHit = std::string::npos);
  // As ReplaceAll, for the first occurrence only.
  void ReplaceFirst(std::string_view pattern, std::string_view value, bool literal);

 private:
  using Range = std::pair<size_t, size_t>;  // [begin, end) of a literal part

  // First literal part that ends after `position`.
  std::vector<Range>::const_iterator LiteralAfter(size_t position) const;
  void Replace(std::string_view pattern, std::string_view value, bool literal, size_t firstHit,
               bool all);
  void Splice(const std::vector<size_t>& hits, size_t length, std::string_view value, bool literal);

  std::string text_;
  std::vector<Range> literals_;  // ordered, disjoint
  bool normalized_ = false;      // line breaks are CR LF and the text ends with one
};

}  // namespace morlak
