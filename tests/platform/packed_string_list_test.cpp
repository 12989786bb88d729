#include "platform/packed_string_list.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace morlak {
namespace {

// The packed list must behave exactly like TStringList for every operation a session's
// variables see, whatever bytes the values hold.
TEST(PackedStringList, BehavesLikeTStringList) {
  const std::string withBreaks = std::string("a\r\nb\0c=d", 8);
  const struct {
    const char* op;  // "add", "set"
    std::string name, value;
  } steps[] = {
      {"add", "ip=10.0.0.1", ""}, {"add", "password=", ""},    {"add", "plain", ""},
      {"set", "USER", "ann"},     {"set", "user", "bob"},      {"set", "Password", "x=y"},
      {"set", "ip", ""},          {"set", "host", withBreaks}, {"set", "plain", "v"},
      {"set", "user", ""},        {"set", "user", ""},         {"set", "host", "h"},
  };
  TStringList expected;
  TPackedStringList packed;
  packed.Reserve(16, 2);
  for (const auto& step : steps) {
    if (std::string(step.op) == "add") {
      expected.Add(step.name);
      packed.Add(step.name);
    } else {
      expected.SetValue(step.name, step.value);
      packed.SetValue(step.name, step.value);
    }
    SCOPED_TRACE(step.op + (" " + step.name));
    ASSERT_EQ(packed.Lines(), expected.lines);
    ASSERT_EQ(packed.Count(), expected.Count());
    for (const char* name : {"ip", "USER", "password", "host", "plain", "missing", "a", "a=b"}) {
      EXPECT_EQ(packed.IndexOfName(name), expected.IndexOfName(name)) << name;
      EXPECT_EQ(packed.Value(name), expected.Value(name)) << name;
    }
  }
  packed.SetLines({"a=1", "", "b=2"});
  EXPECT_EQ(packed.Lines(), (std::vector<std::string>{"a=1", "", "b=2"}));
  EXPECT_EQ(packed.Value("b"), "2");
  packed.Clear();
  EXPECT_TRUE(packed.Empty());
  EXPECT_EQ(packed.Value("host"), "");
}

// HoldsAll is true exactly when SetValue would leave every line as it is.
TEST(PackedStringList, HoldsAllWhenSettingWouldChangeNothing) {
  TPackedStringList list;
  for (const char* line : {"ip=1", "User=ann", "password=", "host=h", "host=second"})
    list.Add(line);
  const std::pair<std::string_view, std::string_view> pairs[] = {
      {"User", "ann"},  {"user", "ann"}, {"User", "bob"},  {"host", "h"}, {"host", "second"},
      {"password", ""}, {"missing", ""}, {"missing", "x"}, {"ip", "1"},
  };
  for (const auto& [name, value] : pairs) {
    TPackedStringList copy = list;
    copy.SetValue(name, value);
    EXPECT_EQ(list.HoldsAll({{name, value}}), copy.Lines() == list.Lines()) << name << "=" << value;
  }
  EXPECT_TRUE(list.HoldsAll({{"ip", "1"}, {"User", "ann"}, {"missing", ""}}));
  EXPECT_FALSE(list.HoldsAll({{"ip", "1"}, {"User", "ann"}, {"host", "second"}}));
}

}  // namespace
}  // namespace morlak
