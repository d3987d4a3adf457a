#include <gtest/gtest.h>

#include "marlowick/Downloading.h"
#include "marlowick/PromptLine.h"

namespace {

TEST(SplitCommandLine, Table) {
  using Tokens = std::vector<std::string>;
  struct Case {
    std::string line;
    Tokens tokens;
  };
  const Case cases[] = {
      {"", {}},
      {"   \t  ", {}},
      {"help", {"help"}},
      {"  a  b   c ", {"a", "b", "c"}},
      {"a\tb", {"a\tb"}},  // only the blank separates
      {"\"\"", {""}},
      {"a \"\" b", {"a", "", "b"}},
      {"--local \"/My Files/x\" --host=h", {"--local", "/My Files/x", "--host=h"}},
      {"--local=\"/My Files\"", {"--local=\"/My", "Files\""}},
      {"\"unclosed quote here", {"\"unclosed", "quote", "here"}},
      {"\"a b\"c d", {"a b", "c", "d"}},
      {"\"a b\"  \"c\"", {"a b", "c"}},
      {"\r\n x \r\n", {"x"}},
      {"x \v\f y", {"x", "y"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(marlowick::splitCommandLine(c.line), c.tokens) << "[" << c.line << "]";
  }
}

TEST(RunCommand, WordsAreFoundAfterDashesAndCase) {
  marlowick::Downloading app({"marlowick"});
  struct Case {
    std::string token;
    bool isCommand;
    std::string tokenAfter;  // what a following download request would receive
  };
  // "log", "man" and "home" open other programs; only the printing words run here.
  const Case cases[] = {
      {"--HELP", true, "--help"},  {"-?", true, "-?"},          {"Help", true, "help"},
      {"version", true, "version"}, {"/?", false, "/?"},         {"Exit", false, "exit"},
      {"--host=X", false, "--host=x"}, {"@Jobs.txt", false, "@Jobs.txt"},
      {"helpme", false, "helpme"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> tokens{c.token};
    testing::internal::CaptureStdout();
    bool result = app.runCommand(tokens);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.isCommand) << c.token;
    EXPECT_EQ(tokens[0], c.tokenAfter) << c.token;
    EXPECT_EQ(printed.empty(), !c.isCommand) << c.token;
  }
}

}  // namespace
