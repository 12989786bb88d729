// A name=value line list kept in one block of memory, for lists that many long-lived
// objects hold (a session's variables): one allocation instead of one per line and one for
// the table of lines. Same rules as TStringList: names before the first "=", matched
// without regard to case; an empty value removes the line.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morlak {

class TPackedStringList {
 public:
  size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  void Add(std::string_view line);
  // Appends the line name=value without looking for the name: for a name the list lacks.
  void AddPair(std::string_view name, std::string_view value);
  // Room for that many lines holding that many bytes in all.
  void Reserve(size_t lineBytes, size_t lines);
  // Gives back the room no line uses.
  void ShrinkToFit() { data_.shrink_to_fit(); }
  void Clear();

  // Index of the first line whose name equals name, or -1.
  int IndexOfName(std::string_view name) const;
  // Value of the first line with that name; empty when absent.
  std::string Value(std::string_view name) const;
  // Replaces the first line with that name, or appends one; an empty value removes it.
  void SetValue(std::string_view name, std::string_view value);
  // True when SetValue would change nothing for any of the pairs: the first line of each
  // name is exactly "name=value", or there is none for an empty value. One walk over the
  // lines for all of them; the names hold no "=".
  bool HoldsAll(std::initializer_list<std::pair<std::string_view, std::string_view>> pairs) const;
  std::vector<std::string> Lines() const;
  // Replaces every line.
  void SetLines(const std::vector<std::string>& lines);

 private:
  struct Found {
    size_t offset = std::string::npos;  // of the line's length field
    uint32_t length = 0;
  };
  Found Find(std::string_view name) const;
  std::string_view LineAt(size_t offset, uint32_t length) const;

  // Every line as its length (4 bytes, native order) followed by its bytes, so a line may
  // hold any byte, line breaks and NULs included.
  std::string data_;
  uint32_t count_ = 0;
};

}  // namespace morlak
