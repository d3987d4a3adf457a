// Typos in a request's arguments: which bare words are taken out as strays, and which known name
// an unknown one is taken for.
#include <gtest/gtest.h>

#include <regex>

#include "marlowick/ArgumentCheck.h"
#include "marlowick/Config.h"
#include "util/Arguments.h"

namespace {

using Tokens = std::vector<std::string>;

TEST(ArgumentCheck, StrayWordsAreTakenOutOnlyAfterAValueGivenInline) {
  struct Case {
    Tokens given;
    Tokens kept;
    Tokens messages;
  };
  const Case cases[] = {
      {{"--local=/in", "foo"},
       {"--local=/in"},
       {"Unknown argument foo ignored; --local already has its value"}},
      {{"--local:/in", "a", "b"},
       {"--local:/in"},
       {"Unknown argument a ignored; --local already has its value",
        "Unknown argument b ignored; --local already has its value"}},
      {{"-l=x", "y"}, {"-l=x"}, {"Unknown argument y ignored; -l already has its value"}},
      // The "--name value" form, and a name whose "=" holds nothing, take the word as value.
      {{"--local", "/in", "--lsize", "1", "2"}, {"--local", "/in", "--lsize", "1", "2"}, {}},
      {{"--local=", "/in"}, {"--local=", "/in"}, {}},
      // "-" and "--" name nothing: the argument before still has its value.
      {{"--local=/in", "--", "foo"},
       {"--local=/in", "--"},
       {"Unknown argument foo ignored; --local already has its value"}},
      {{"--remote=/tree", "recurse=true", "--host=h"},
       {"--remote=/tree", "--host=h"},
       {"Unknown argument recurse=true ignored; did you mean --recurse=true?"}},
      {{"foo", "--host=h"}, {"foo", "--host=h"}, {}},
  };
  for (const Case& c : cases) {
    Tokens tokens = c.given;
    EXPECT_EQ(marlowick::takeStrayWords(tokens), c.messages) << c.given[0];
    EXPECT_EQ(tokens, c.kept) << c.given[0];
  }
}

TEST(ArgumentCheck, ClosestNameAllowsAFewSlipsByLength) {
  const std::pair<const char*, const char*> cases[] = {
      {"exlude", "exclude"},     {"HOST", "host"},     {"prot", "port"}, {"recursive", "recurse"},
      {"1modifed", "lmodified"}, {"tst", "justPrint"}, {"dry-run", ""},  {"x", ""},
      {"verbose", ""},
  };
  for (const auto& [typed, meant] : cases) {
    EXPECT_EQ(marlowick::closestArgumentName(typed), meant) << typed;
  }
}

// A new argument that the help lists but the check does not know would be called a typo.
TEST(ArgumentCheck, EveryArgumentTheHelpListsIsKnown) {
  const std::string help = marlowick::config().helpText();
  const std::regex listed(R"(\n  --([A-Za-z]+)[=<])");
  Tokens tokens;
  for (std::sregex_iterator it(help.begin(), help.end(), listed), end; it != end; ++it) {
    tokens.push_back("--" + (*it)[1].str() + "=1");
  }
  ASSERT_GT(tokens.size(), 25u);
  util::Arguments arguments;
  arguments.parse(tokens);
  EXPECT_EQ(marlowick::unknownArgumentMessages(arguments), Tokens{});
}

}  // namespace
