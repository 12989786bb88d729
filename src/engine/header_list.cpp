#include "engine/header_list.h"

#include <cstddef>

namespace morlak {

namespace {

bool IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string HeaderLine(std::string_view name, std::string_view value) {
  std::string line;
  line.reserve(name.size() + 2 + value.size());
  line.append(name).append(": ").append(value);
  return line;
}

bool IsHeaderLine(std::string_view line, std::string_view name, std::string_view value) {
  return line.size() == name.size() + 2 + value.size() && line.starts_with(name) &&
         line.substr(name.size(), 2) == ": " && line.ends_with(value);
}

}  // namespace

std::string_view TIdHeaderList::NameOf(size_t i) const {
  const std::string_view line = lines[i];
  const size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

int TIdHeaderList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    // Cheap rejection before the full comparison: the colon must sit right after the name.
    if (line.size() <= name.size() || line[name.size()] != ':') continue;
    if (SameText(std::string_view(line).substr(0, name.size()), name) &&
        line.find(':') == name.size())
      return static_cast<int>(i);
  }
  return -1;
}

size_t TIdHeaderList::ContinuationEnd(size_t i) const {
  size_t end = i + 1;
  while (end < lines.size() && IsContinuation(lines[end])) ++end;
  return end;
}

std::string TIdHeaderList::ValueAt(size_t i) const {
  const std::string& line = lines[i];
  std::string value = Trim(std::string_view(line).substr(line.find(':') + 1));
  const size_t end = ContinuationEnd(i);
  for (size_t k = i + 1; k < end; ++k) {
    value += ' ';
    value += Trim(lines[k]);
  }
  return end == i + 1 ? value : Trim(value);
}

std::string TIdHeaderList::Value(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueAt(static_cast<size_t>(i));
}

void TIdHeaderList::SetValue(std::string_view name, std::string_view value) {
  const int found = IndexOfName(name);
  if (found < 0) {
    if (!value.empty()) lines.push_back(HeaderLine(name, value));
    return;
  }
  const size_t i = static_cast<size_t>(found);
  const size_t end = FoldLines ? ContinuationEnd(i) : i + 1;
  if (value.empty()) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i),
                lines.begin() + static_cast<std::ptrdiff_t>(end));
    return;
  }
  // Responses often set again what is there already; that costs no new line.
  if (!IsHeaderLine(lines[i], name, value)) lines[i] = HeaderLine(name, value);
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i + 1),
              lines.begin() + static_cast<std::ptrdiff_t>(end));
}

void TIdHeaderList::ExtractValues(std::string_view name, TStringList& target) const {
  for (size_t i = 0; i < lines.size(); ++i)
    if (NameOf(i).size() == name.size() && SameText(NameOf(i), name)) target.Add(ValueAt(i));
}

}  // namespace morlak
