#include "engine/header_list.h"

#include <gtest/gtest.h>

namespace morlak {
namespace {

TIdHeaderList Lines(std::initializer_list<const char*> lines) {
  TIdHeaderList h;
  for (const char* l : lines) h.Add(l);
  return h;
}

TEST(HeaderList, ValueTakesFirstMatchWithoutRegardToCase) {
  const TIdHeaderList h = Lines({"Host: a", "host: b"});
  EXPECT_EQ(h.Value("HOST"), "a");
  EXPECT_EQ(h.Value("Missing"), "");
}

TEST(HeaderList, NamesEndAtFirstColonAndAreNotTrimmed) {
  const TIdHeaderList h = Lines({"Host : spaced", "X-Time: 10:20", "no colon here"});
  EXPECT_EQ(h.Value("Host"), "");
  EXPECT_EQ(h.Value("Host "), "spaced");
  EXPECT_EQ(h.Value("X-Time"), "10:20");
  EXPECT_EQ(h.NameOf(2), "");
}

TEST(HeaderList, ContinuationLinesJoinWithOneBlank) {
  const TIdHeaderList h = Lines({"X-Long: one  ", " two", "\tthree ", "Next: n"});
  EXPECT_EQ(h.Value("X-Long"), "one two three");
  EXPECT_EQ(h.Value("Next"), "n");
}

TEST(HeaderList, SetValueReplacesInPlaceAppendsAndDeletes) {
  TIdHeaderList h = Lines({"A: 1", "B: 2", " folded", "C: 3"});
  h.SetValue("b", "new");
  EXPECT_EQ(h.lines, (std::vector<std::string>{"A: 1", "b: new", "C: 3"}));
  h.SetValue("D", "4");
  EXPECT_EQ(h.lines.back(), "D: 4");
  h.SetValue("A", "");
  EXPECT_EQ(h.lines, (std::vector<std::string>{"b: new", "C: 3", "D: 4"}));
  h.SetValue("Absent", "");
  EXPECT_EQ(h.Count(), 3u);
}

TEST(HeaderList, WithoutFoldingSetValueLeavesFollowingLines) {
  TIdHeaderList h = Lines({"B: 2", " kept"});
  h.FoldLines = false;
  h.SetValue("B", "x");
  EXPECT_EQ(h.lines, (std::vector<std::string>{"B: x", " kept"}));
}

TEST(HeaderList, ExtractValuesCollectsEveryMatchInOrder) {
  const TIdHeaderList h = Lines({"Cookie: a=1", "Other: x", "cookie: b=2"});
  TStringList values;
  h.ExtractValues("COOKIE", values);
  EXPECT_EQ(values.lines, (std::vector<std::string>{"a=1", "b=2"}));
}

}  // namespace
}  // namespace morlak
