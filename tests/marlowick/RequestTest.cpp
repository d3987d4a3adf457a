// The request's arguments: parsing with the declared aliases, the checks and every conversion
// into the job's fields.
#include <gtest/gtest.h>

#include "tests/marlowick/ApplyArgumentsSupport.h"

#include <functional>

#include "marlowick/Downloader.h"
#include "marlowick/Downloading.h"
#include "tests/support/TempDir.h"
#include "util/Arguments.h"

namespace {

using marlowick::Downloader;
using testing_support::TempDir;
using Tokens = std::vector<std::string>;

using marlowick_test::Applied;
using marlowick_test::apply;

using kestrelkit::net::ftp::kUnknownSize;
using kestrelkit::net::ftp::kOff;

TEST(ApplyArguments, DefaultsAndPlainValues) {
  Applied r = apply({"--host=server1", "--local=C:/Data", "--username", "u", "--password", "p"});
  ASSERT_TRUE(r.accepted);
  EXPECT_EQ(r.job.host, "server1");
  EXPECT_EQ(r.job.local, "C:/Data/");
  EXPECT_EQ(r.job.remote, "");
  EXPECT_EQ(r.job.port, 21);
  EXPECT_TRUE(r.job.passive);
  EXPECT_TRUE(r.job.overwrite);
  EXPECT_FALSE(r.job.recurse);
  EXPECT_FALSE(r.job.justPrint);
  EXPECT_EQ(r.job.transferMode, 'I');
  EXPECT_EQ(r.job.lsize, kUnknownSize);
  EXPECT_EQ(r.job.maxfiles, kOff);
  EXPECT_TRUE(r.job.mlsd);
  EXPECT_FALSE(r.job.keeptime);
  EXPECT_FALSE(r.job.newer);
  EXPECT_EQ(r.console, "");
}

TEST(ApplyArguments, AcceptedValuesTable) {
  struct Case {
    Tokens tokens;
    std::function<void(const Downloader&)> check;
  };
  const Case cases[] = {
      {{"--local=C:\\a\\b"}, [](auto& j) { EXPECT_EQ(j.local, "C:/a/b/"); }},
      {{"--local=/srv/x/"}, [](auto& j) { EXPECT_EQ(j.local, "/srv/x/"); }},
      {{"--remote=/pub/"}, [](auto& j) { EXPECT_EQ(j.remote, "/pub"); }},
      {{"--remote=/"}, [](auto& j) { EXPECT_EQ(j.remote, "/"); }},
      {{"--remote=\\pub\\x\\"}, [](auto& j) { EXPECT_EQ(j.remote, "/pub/x"); }},
      {{"--remote=pub//"}, [](auto& j) { EXPECT_EQ(j.remote, "pub/"); }},
      {{"--port=021"}, [](auto& j) { EXPECT_EQ(j.port, 21); }},
      {{"--port=65535"}, [](auto& j) { EXPECT_EQ(j.port, 65535); }},
      {{"--passive=FALSE"}, [](auto& j) { EXPECT_FALSE(j.passive); }},
      {{"--recurse=True"}, [](auto& j) { EXPECT_TRUE(j.recurse); }},
      {{"--size=<100"}, [](auto& j) { EXPECT_EQ(j.lsize, 102400u); }},
      {{"--size=>0"}, [](auto& j) { EXPECT_EQ(j.gsize, 0u); }},
      {{"--size=<1", "--size=>2"},
       [](auto& j) {
         EXPECT_EQ(j.lsize, 1024u);
         EXPECT_EQ(j.gsize, 2048u);
       }},
      {{"--modified=<60"}, [](auto& j) { EXPECT_EQ(j.lmodified, 36000000000); }},
      {{"--modified=>-1"}, [](auto& j) { EXPECT_EQ(j.gmodified, -600000000); }},
      {{"--lmodified=5"}, [](auto& j) { EXPECT_EQ(j.lmodified, kOff); }},
      {{"--lmodified=50"}, [](auto& j) { EXPECT_EQ(j.lmodified, 30000000000); }},
      {{"--1modified=10"}, [](auto& j) { EXPECT_EQ(j.lmodified, 6000000000); }},
      {{"--gmodified=5"}, [](auto& j) { EXPECT_EQ(j.gmodified, 3000000000); }},
      {{"--test=true"}, [](auto& j) { EXPECT_TRUE(j.justPrint); }},
      {{"--justprint:TRUE"}, [](auto& j) { EXPECT_TRUE(j.justPrint); }},
      {{"--JUSTPRINT", "true"}, [](auto& j) { EXPECT_TRUE(j.justPrint); }},
      {{"--test"}, [](auto& j) { EXPECT_FALSE(j.justPrint); }},
      {{"--lsize"}, [](auto& j) { EXPECT_EQ(j.lsize, kUnknownSize); }},
      {{"--size=<5", "--lsize"}, [](auto& j) { EXPECT_EQ(j.lsize, kUnknownSize); }},
      {{"--1size=10"}, [](auto& j) { EXPECT_EQ(j.lsize, 10240u); }},
      {{"--gsize=+3"}, [](auto& j) { EXPECT_EQ(j.gsize, 3072u); }},
      {{"--lsize=1", "2", "3"}, [](auto& j) { EXPECT_EQ(j.lsize, 3072u); }},
      {{"--include"}, [](auto& j) { EXPECT_EQ(j.include, ""); }},
      {{"--include=*.txt", "--include"}, [](auto& j) { EXPECT_EQ(j.include, "*.txt"); }},
      {{"--include=a|b", "--include=c"}, [](auto& j) { EXPECT_EQ(j.include, "c"); }},
      {{"--exclude=old*"}, [](auto& j) { EXPECT_EQ(j.exclude, "old*"); }},
      {{"--timeout=5"}, [](auto& j) { EXPECT_EQ(j.timeout, 5); }},
      {{"--timeout=0"}, [](auto& j) { EXPECT_EQ(j.timeout, 0); }},
      {{"--Timeout=5"}, [](auto& j) { EXPECT_EQ(j.timeout, 60); }},
      {{"--Host=x"}, [](auto& j) { EXPECT_EQ(j.host, ""); }},
      {{"--host=a", "--host=b"}, [](auto& j) { EXPECT_EQ(j.host, "b"); }},
      {{"--maxfiles=3", "--maxfolders=-1"},
       [](auto& j) {
         EXPECT_EQ(j.maxfiles, 3);
         EXPECT_EQ(j.maxfolders, -1);
       }},
      {{"--image=false"}, [](auto& j) { EXPECT_EQ(j.transferMode, 'A'); }},
      {{"--image=false", "--image=TRUE"}, [](auto& j) { EXPECT_EQ(j.transferMode, 'I'); }},
      {{"--exitcodes=TRUE", "--report=/r.jsonl"},
       [](auto& j) {
         EXPECT_TRUE(j.exitCodes);
         EXPECT_EQ(j.report, "/r.jsonl");
       }},
      {{"--mlsd=false", "--keeptime=true"},
       [](auto& j) {
         EXPECT_FALSE(j.mlsd);
         EXPECT_TRUE(j.keeptime);
         EXPECT_FALSE(j.newer);
       }},
      {{"--newer=true", "--keeptime=false"},
       [](auto& j) {
         EXPECT_TRUE(j.newer);
         EXPECT_TRUE(j.keeptime);  // implied
       }},
  };
  for (const Case& c : cases) {
    Applied r = apply(c.tokens);
    EXPECT_TRUE(r.accepted) << c.tokens[0] << ": " << r.console;
    SCOPED_TRACE(c.tokens[0]);
    c.check(r.job);
  }
}

TEST(ApplyArguments, InvalidValuesStopAtTheFirstWithItsMessage) {
  struct Case {
    Tokens tokens;
    std::string message;
  };
  const Case cases[] = {
      {{"--port=abc", "--passive=maybe"}, "Invalid port number: abc\n"},
      {{"--port=0x15"}, "Invalid port number: 0x15\n"},
      {{"--port=-1"}, "Invalid port number: -1\n"},
      {{"--port=21 "}, "Invalid port number: 21 \n"},
      {{"--port=65536"}, "Invalid port number: 65536\n"},
      {{"--port=4294967295"}, "Invalid port number: 4294967295\n"},
      {{"--passive=1"}, "Invalid passive value: 1\nvalid value is true or false\n"},
      {{"--recurse=yes"}, "Invalid recurse value: yes\nvalid value is true or false\n"},
      // The rest is converted before the first character is looked at: "00" converts.
      {{"--size=100"}, "Invalid size value: 100\nmust begin with < or >\n"},
      {{"--size=5"}, "Invalid size value: 5\n"},
      {{"--size=abc"}, "Invalid size value: abc\n"},
      {{"--size=x5"}, "Invalid size value: x5\nmust begin with < or >\n"},
      {{"--size=<-5"}, "Invalid size value: <-5\n"},
      {{"--size=<18014398509481984"}, "Invalid size value: <18014398509481984\n"},
      {{"--modified=60"}, "Invalid modified value: 60\nmust begin with < or >\n"},
      {{"--modified=6"}, "Invalid modified number: 6\n"},
      {{"--modified=<"}, "Invalid modified number: <\n"},
      {{"--modified=x60"}, "Invalid modified value: x60\nmust begin with < or >\n"},
      {{"--modified=<15372286729"}, "Invalid modified number: <15372286729\n"},
      {{"--overwrite=no"}, "Invalid overwrite value: no\nValid value is true or false\n"},
      {{"--justPrint=1"}, "Invalid justPrint value: 1\nValid value is true or false\n"},
      {{"--lsize=-1"}, "Invalid lsize value: -1\n"},
      {{"--gsize=1 "}, "Invalid gsize value: 1 \n"},
      {{"--gsize=18014398509481984"}, "Invalid gsize value: 18014398509481984\n"},
      {{"--lmodified=ab"}, "Invalid lmodified value: ab\n"},
      {{"--gmodified=x"}, "Invalid gmodified value: x\n"},
      {{"--maxfiles=many"}, "Invalid maxfiles parameter many\n"},
      {{"--maxfolders=1.5"}, "Invalid maxfolders value: 1.5\n"},
      {{"--image=binary"}, "Invalid image value: binary\n"},
      {{"--exitcodes=1"}, "Invalid exitcodes value: 1\nValid value is true or false\n"},
      {{"--mlsd=no"}, "Invalid mlsd value: no\nValid value is true or false\n"},
      {{"--keeptime=1"}, "Invalid keeptime value: 1\nValid value is true or false\n"},
      {{"--newer=yes"}, "Invalid newer value: yes\nValid value is true or false\n"},
      // Rows are handled in their order: size comes before overwrite.
      {{"--overwrite=x", "--size=y"}, "Invalid size value: y\n"},
  };
  for (const Case& c : cases) {
    Applied r = apply(c.tokens);
    EXPECT_FALSE(r.accepted) << c.tokens[0];
    EXPECT_EQ(r.console, c.message) << c.tokens[0];
  }
}

class CheckArguments : public testing::Test {
 protected:
  std::string check(const Tokens& tokens, bool expected) {
    marlowick::Downloading app({"marlowick"});
    util::Arguments arguments;
    marlowick::declareRequestArguments(arguments);
    arguments.parse(tokens);
    testing::internal::CaptureStdout();
    bool result = app.checkArguments(arguments);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, expected) << console;
    return console;
  }
  TempDir dir;
};

TEST_F(CheckArguments, RequiredArgumentsInOrder) {
  EXPECT_EQ(check({"-host=x"}, false), "host required but was not discovered\n");
  EXPECT_EQ(check({"--host=x"}, false), "local required but was not discovered\n");
  EXPECT_EQ(check({"--host=x", "--local=" + dir.path()}, false),
            "username required but was not discovered\n");
  EXPECT_EQ(check({"--host=x", "--local=" + dir.path(), "--username=u", "--password="}, false),
            "password required but was not discovered\n");
  EXPECT_EQ(check({"--host=x", "--local=" + dir.path(), "--username=u", "--password=p"}, true),
            "");
}

TEST_F(CheckArguments, LocalMustBeAnExistingFolderAndOnlyTheFirstIsChecked) {
  Tokens base{"--host=x", "--username=u", "--password=p"};
  auto with = [&](Tokens more) {
    Tokens all = base;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  EXPECT_EQ(check(with({"--local=" + dir.file("missing")}), false),
            "Specified path does not exists: " + dir.file("missing") + "\n");
  testing_support::writeFile(dir.file("file"), "x");
  EXPECT_EQ(check(with({"--local=" + dir.file("file")}), false),
            "Specified path isn't a folder: " + dir.file("file") + "\n");
  EXPECT_EQ(check(with({"--local=" + dir.path(), "--local=" + dir.file("missing")}), true), "");
}

}  // namespace
