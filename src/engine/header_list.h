// An ordered list of "Name: value" header lines. Names end at the first ":" (not
// trimmed) and are matched without regard to case; a line that starts with a blank or a
// tab continues the value of the line before it.
// The class is TIdHeaderList.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace morlak {

class TIdHeaderList : public TStringList {
 public:
  // When set, SetValue also removes the continuation lines of the entry it replaces.
  bool FoldLines = true;

  // The name of line i: the text before its first ":", empty without one.
  std::string_view NameOf(size_t i) const;
  // Index of the first line with that name, or -1.
  int IndexOfName(std::string_view name) const;
  // Value of the first line with that name, continuation lines joined by one blank,
  // trimmed; empty when there is no such line.
  std::string Value(std::string_view name) const;
  // Replaces the first line with that name by "name: value" or appends one; an empty
  // value deletes the line.
  void SetValue(std::string_view name, std::string_view value);
  // Appends the value of every line with that name, in order, to `target`.
  void ExtractValues(std::string_view name, TStringList& target) const;
  // The value of line i as Value gives it: continuation lines joined, trimmed.
  std::string ValueAt(size_t i) const;

 private:
  size_t ContinuationEnd(size_t i) const;
};

}  // namespace morlak
