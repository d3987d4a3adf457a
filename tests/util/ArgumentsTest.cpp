#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "util/Arguments.h"

namespace util {
namespace {

using Tokens = std::vector<std::string>;
using Parsed = std::map<std::string, std::vector<std::string>>;

// The declarations a download request makes.
void declareRequestArguments(Arguments& arguments) {
  arguments.declare("justPrint").anyNumberOfValues().addAlias({"justprint", "JUSTPRINT", "test"});
  arguments.declare("lsize").anyNumberOfValues().addAlias("1size");
  arguments.declare("lmodified").anyNumberOfValues().addAlias("1modified");
}

Parsed everything(const Arguments& arguments) {
  Parsed parsed;
  for (const std::string& name : arguments.names()) parsed[name] = arguments.values(name);
  return parsed;
}

std::string joined(const Tokens& tokens) {
  std::string text;
  for (const std::string& token : tokens) text += "[" + token + "] ";
  return text;
}

struct ParseCase {
  Tokens tokens;
  Parsed expected;
};

TEST(Arguments, ParsesTokens) {
  const std::vector<ParseCase> cases = {
      // Bare prefixes name nothing and leave the argument named last in charge.
      {{"-"}, {}},
      {{"--"}, {}},
      {{"--", "x"}, {}},
      {{"--lsize=1", "-", "2", "--", "3"}, {{"lsize", {"1", "2", "3"}}}},
      // Short prefix: one argument per letter; a value goes to the last letter.
      {{"-ab"}, {{"a", {}}, {"b", {}}}},
      {{"-ab=1"}, {{"a", {}}, {"b", {"1"}}}},
      {{"-ab", "v"}, {{"a", {}}, {"b", {"v"}}}},
      {{"-aba=1", "2"}, {{"a", {"1", "2"}}, {"b", {}}}},
      {{"-host=x"}, {{"h", {}}, {"o", {}}, {"s", {}}, {"t", {"x"}}}},
      {{"--host=a", "-=b"}, {{"host", {"a", "b"}}}},
      // Long prefix wins over short and names one argument.
      {{"---x"}, {{"-x", {}}}},
      {{"--=x"}, {{"", {"x"}}}},
      // Values after the separator, in further tokens and from repeated names, in order.
      {{"--lsize=1", "2", "3"}, {{"lsize", {"1", "2", "3"}}}},
      {{"--lsize=1", "--lsize=2"}, {{"lsize", {"1", "2"}}}},
      {{"--lsize=5", "--lsize"}, {{"lsize", {"5"}}}},
      {{"--a", "-b", "v"}, {{"a", {}}, {"b", {"v"}}}},
      {{"--a", ""}, {{"a", {""}}}},
      {{"--host=server1"}, {{"host", {"server1"}}}},
      {{"--host:server1"}, {{"host", {"server1"}}}},
      {{"--host", "server1"}, {{"host", {"server1"}}}},
      // The first separator of either kind ends the name; the value is never split.
      {{"--name:x=y"}, {{"name", {"x=y"}}}},
      {{"--name=x:y"}, {{"name", {"x:y"}}}},
      {{"--local=C:\\Data"}, {{"local", {"C:\\Data"}}}},
      {{"--local=C:\\My Files"}, {{"local", {"C:\\My Files"}}}},
      {{"--include=a=b"}, {{"include", {"a=b"}}}},
      {{"--host="}, {{"host", {}}}},
      {{"--host:"}, {{"host", {}}}},
      // Values before any name are dropped.
      {{"value", "--host=h"}, {{"host", {"h"}}}},
      // Aliases are stored under the declared name; names are case-sensitive.
      {{"--1size=10"}, {{"lsize", {"10"}}}},
      {{"--1modified=5"}, {{"lmodified", {"5"}}}},
      {{"--test"}, {{"justPrint", {}}}},
      {{"--JUSTPRINT", "true"}, {{"justPrint", {"true"}}}},
      {{"--justprint:TRUE", "--test=false"}, {{"justPrint", {"TRUE", "false"}}}},
      {{"--1SIZE=3"}, {{"1SIZE", {"3"}}}},
      {{"--Host=x", "--host=y"}, {{"Host", {"x"}}, {"host", {"y"}}}},
      // Undeclared names are kept.
      {{"--timeout=5"}, {{"timeout", {"5"}}}},
  };
  for (const ParseCase& c : cases) {
    Arguments arguments;
    declareRequestArguments(arguments);
    EXPECT_TRUE(arguments.parse(c.tokens)) << joined(c.tokens);
    EXPECT_EQ(everything(arguments), c.expected) << joined(c.tokens);
  }
}

TEST(Arguments, AnswersQueries) {
  Arguments arguments;
  declareRequestArguments(arguments);
  ASSERT_TRUE(arguments.parse({"--host=a", "b", "--test", "--local="}));

  EXPECT_TRUE(arguments.isPresent("host"));
  EXPECT_TRUE(arguments.has("local"));
  EXPECT_FALSE(arguments.isPresent("port"));
  EXPECT_TRUE(arguments.isPresent("justPrint"));
  EXPECT_TRUE(arguments.isPresent("test"));  // an alias asks for its declared name

  EXPECT_EQ(arguments.values("host"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(arguments.values("port").empty());
  EXPECT_EQ(arguments.firstValue("host"), "a");
  EXPECT_EQ(arguments.firstValue("local"), "");
  EXPECT_EQ(arguments.firstValue("port"), "");

  // A second parse starts afresh.
  ASSERT_TRUE(arguments.parse({"--port=21"}));
  EXPECT_FALSE(arguments.isPresent("host"));
  EXPECT_EQ(arguments.firstValue("port"), "21");
}

TEST(Arguments, DeclareReturnsTheSameDefinition) {
  Arguments arguments;
  Definition& first = arguments.declare("lsize");
  first.addAlias("1size");
  Definition& again = arguments.declare("lsize");
  EXPECT_EQ(&first, &again);
  EXPECT_EQ(again.aliases(), (std::vector<std::string>{"1size"}));
}

struct RuleCase {
  std::string title;
  std::function<void(Arguments&)> declare;
  Tokens tokens;
  std::vector<std::string> errors;
};

bool digitsOnly(const std::string& value) {
  return !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
}

TEST(Arguments, ChecksDefinitions) {
  const auto leastTwo = [](Arguments& a) { a.declare("n").numberOfValues(2, -1); };
  const auto mostTwo = [](Arguments& a) { a.declare("n").numberOfValues(0, 2); };
  const auto plain = [](Arguments& a) { a.declare("n"); };
  const auto required = [](Arguments& a) { a.declare("n").setRequired().addAlias("alias"); };
  const auto conflict = [](Arguments& a) { a.declare("a").addConflict("b"); };
  const auto prerequisite = [](Arguments& a) { a.declare("a").addPrerequisite("b"); };
  const auto checked = [](Arguments& a) {
    a.declare("port").anyNumberOfValues().addCheck(digitsOnly, "digits only");
  };
  const std::vector<RuleCase> cases = {
      {"too few", leastTwo, {"--n=1"}, {"argument n takes at least 2 values but was given 1"}},
      {"enough", leastTwo, {"--n=1", "2"}, {}},
      {"least ignored when absent", leastTwo, {}, {}},
      {"too many",
       mostTwo,
       {"--n=1", "2", "3"},
       {"argument n takes at most 2 values but was given 3"}},
      {"at most", mostTwo, {"--n=1", "--n=2"}, {}},
      {"default one value",
       plain,
       {"--n=1", "2"},
       {"argument n takes at most 1 value but was given 2"}},
      {"default without value", plain, {"--n"}, {}},
      {"required missing", required, {"--m"}, {"argument n is required"}},
      {"required given", required, {"--n"}, {}},
      {"required by alias", required, {"--alias"}, {}},
      {"conflict", conflict, {"--a", "--b"}, {"argument a cannot be given together with b"}},
      {"no conflict", conflict, {"--a"}, {}},
      {"prerequisite missing", prerequisite, {"--a"}, {"argument a needs argument b"}},
      {"prerequisite given", prerequisite, {"--a", "--b"}, {}},
      {"prerequisite unused", prerequisite, {"--b"}, {}},
      {"check fails", checked, {"--port=21", "x1"}, {"invalid port value \"x1\": digits only"}},
      {"check passes", checked, {"--port=21", "22"}, {}},
  };
  for (const RuleCase& c : cases) {
    Arguments arguments;
    c.declare(arguments);
    EXPECT_EQ(arguments.parse(c.tokens), c.errors.empty()) << c.title;
    EXPECT_EQ(arguments.errors(), c.errors) << c.title;
  }
}

TEST(Arguments, ValuesStayReadableWhenARuleFails) {
  Arguments arguments;
  arguments.declare("host").setRequired();
  EXPECT_FALSE(arguments.parse({"--port=21"}));
  EXPECT_EQ(arguments.firstValue("port"), "21");
  ASSERT_EQ(arguments.errors().size(), 1u);
}

}  // namespace
}  // namespace util
