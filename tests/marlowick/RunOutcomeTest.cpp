// How a request's outcome reaches a caller that is not watching: exit codes, the run report, the
// failure count line, and credentials that stay off the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/marlowick/DownloaderJobSupport.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/MarlowickRun.h"

namespace {

using marlowick_test::fileLine;
using marlowick_test::folderLine;
using testing_support::BackgroundProcess;
using testing_support::FakeFtpServer;
using testing_support::FakeTransfer;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ProgramHome;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Tokens = std::vector<std::string>;

// One scripted server, one target folder and one home per case.
struct Scene {
  FakeFtpServer server;
  TempDir target;
  ProgramHome home;

  Tokens request(const Tokens& more, bool withPassword = true) const {
    Tokens args{"--host=127.0.0.1", "--port=" + std::to_string(server.port()), "--username=user",
                "--local=" + target.path(), "--timeout=5", "--retries=0"};
    if (withPassword) args.push_back("--password=secret");
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string line(const Tokens& tokens) const {
    std::string text;
    for (const std::string& token : tokens) text += token + " ";
    return text + "\n";
  }
  ProcessResult run(const Tokens& args, ProcessOptions options = {}) const {
    options.unsetEnv.push_back("MARLOWICK_PASSWORD");
    return home.run(args, options);
  }
  // a.txt (saved unless the server refuses it) and b.txt (fails when refused).
  void serveTwo(bool refuseB) {
    server.setListing("", fileLine("a.txt", 3) + fileLine("b.txt", 2));
    server.setFile("a.txt", "aaa");
    if (refuseB) {
      server.setReply("RETR b.txt", "550 Permission denied.");
    } else {
      server.setFile("b.txt", "bb");
    }
  }
};

TEST(ExitCodes, EachOutcomeHasItsStatusAndTheWorstRequestWins) {
  struct Case {
    const char* what;
    std::function<void(Scene&)> script;
    std::function<Tokens(const Scene&)> args;
    std::string input;  // typed requests at the prompt, when not empty
    int status;
    std::string logged = {};  // a line (or its end) the log must hold, when not empty
  };
  const auto plain = [](Tokens more) {
    return [more](const Scene& s) { return s.request(more); };
  };
  const Case cases[] = {
      {"all saved", [](Scene& s) { s.serveTwo(false); }, plain({"--exitcodes=true"}), "", 0},
      {"nothing matched", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--include=none"}), "", 0},
      {"a file failed, exit codes off", [](Scene& s) { s.serveTwo(true); }, plain({}), "", 0},
      {"invalid value", [](Scene&) {}, plain({"--exitcodes=true", "--port=abc"}), "", 2},
      {"invalid exitcodes value", [](Scene&) {}, plain({"--exitcodes=yes"}), "", 0},
      {"missing password", [](Scene&) {},
       [](const Scene& s) { return s.request({"--exitcodes=true"}, false); }, "", 2},
      {"login refused", [](Scene& s) { s.server.setReply("PASS", "530 Login incorrect."); },
       plain({"--exitcodes=true"}), "", 3},
      {"start folder missing",
       [](Scene& s) { s.server.setReply("CWD /gone", "550 No such folder."); },
       plain({"--exitcodes=true", "--remote=/gone"}), "", 3},
      {"a file failed", [](Scene& s) { s.serveTwo(true); }, plain({"--exitcodes=true"}), "", 4},
      {"a folder could not be walked",
       [](Scene& s) {
         s.server.setListing("", fileLine("a.txt", 3) + folderLine("up/.."));
         s.server.setFile("a.txt", "aaa");
       },
       plain({"--exitcodes=true", "--recurse=true"}), "", 4},
      {"invalid deadline", [](Scene&) {}, plain({"--exitcodes=true", "--deadline=-1"}), "", 2},
      {"stopped by its deadline",
       [](Scene& s) {
         s.serveTwo(false);
         FakeTransfer slow;
         slow.data = "aaa";
         slow.pauseAt = {1};
         slow.pause = std::chrono::seconds(3);
         s.server.setFileTries("a.txt", {slow});
       },
       plain({"--exitcodes=true", "--deadline=1"}), "", 5},
      {"failed request typed first, a good one after",
       [](Scene& s) { s.serveTwo(true); }, [](const Scene&) { return Tokens{}; }, "bad-then-good",
       4},
      // A typo must not change a run without a word; a caller that asked to be told gets no run.
      {"misspelt name", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--exlude=*.tmp"}), "", 2,
       "Unknown argument --exlude ignored; did you mean --exclude?"},
      {"longer name", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--recursive=true"}), "", 2,
       "Unknown argument --recursive ignored; did you mean --recurse?"},
      {"misspelt alias", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--justprnt=true"}), "", 2,
       "Unknown argument --justprnt ignored; did you mean --justPrint?"},
      {"name in other letter case", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--Recurse=true"}), "", 2,
       "Unknown argument --Recurse ignored; did you mean --recurse?"},
      {"nothing close, exit codes off: the run goes on", [](Scene& s) { s.serveTwo(false); },
       plain({"--dry-run"}), "", 0, "Unknown argument --dry-run ignored"},
      {"one letter", [](Scene& s) { s.serveTwo(false); }, plain({"--exitcodes=true", "-v"}), "",
       2, "Unknown argument -v ignored"},
      {"bare word after a value", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--include=a.txt", "foo"}), "", 2,
       "Unknown argument foo ignored; --include already has its value"},
      {"argument without its dashes after a value", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--remote=/tree", "recurse=true"}), "", 2,
       "Unknown argument recurse=true ignored; did you mean --recurse=true?"},
      {"a value after its name stays one", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--include", "a.txt"}), "", 0,
       "settings --include=a.txt --timeout=5 --retries=0 --exitcodes=true"},
      // Values that no file can pass say so before "No files matched".
      {"file limit below one", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--maxfiles=-3"}), "", 0,
       "The file limit excludes every file (--maxfiles=-3)"},
      {"size bounds crossed", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--gsize=10", "--lsize=1"}), "", 0,
       "The size bounds exclude every file of known size (--gsize=10 is above --lsize=1)"},
      {"age bounds crossed", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--modified=>60", "--modified=<30"}), "", 0,
       "The age bounds exclude every file of known time (--gmodified=60 is above --lmodified=30)"},
      {"the job's line in the log", [](Scene& s) { s.serveTwo(false); },
       plain({"--exitcodes=true", "--exclude=*.tmp", "--newer=true", "--mlsd=false"}), "", 0,
       "settings --exclude=*.tmp --timeout=5 --retries=0 --mlsd=false --keeptime=true "
       "--newer=true --exitcodes=true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene setup;
    c.script(setup);
    ProcessOptions options;
    Tokens args = c.args(setup);
    if (!c.input.empty()) {
      // Two requests at the prompt: the first fails a file, the second saves only a.txt.
      options.input = setup.line(setup.request({"--exitcodes=true"})) +
                      setup.line(setup.request({"--exitcodes=true", "--include=a.txt"})) +
                      "exit\n";
    }
    ProcessResult result = setup.run(args, options);
    EXPECT_EQ(result.exitCode, c.status) << result.out;
    const std::string log = setup.home.log();
    if (!c.logged.empty()) {
      EXPECT_NE(log.find(c.logged + "\n"), std::string::npos) << log;
    }
    if (c.status == 2) {
      EXPECT_TRUE(setup.server.commands().empty()) << "stopped before it connects";
    }
    EXPECT_EQ(log.find("secret"), std::string::npos) << log;
  }
}

TEST(ExitCodes, FailuresAreCountedOnOneErrorLineBeforeTheSavedLine) {
  Scene setup;
  setup.server.setListing("", fileLine("a.txt", 3) + fileLine("b.txt", 2) +
                                  fileLine("c.txt", 1) + folderLine("up/.."));
  setup.server.setFile("a.txt", "aaa");
  setup.server.setReply("RETR b.txt", "550 Permission denied.");
  setup.server.setReply("RETR c.txt", "550 Permission denied.");
  ProcessResult result = setup.run(setup.request({"--recurse=true"}));
  const std::string saved = " 1 files saved to " + setup.target.path() + "/\n";
  EXPECT_NE(result.out.find("2 files and 1 folder failed\n" + saved), std::string::npos)
      << result.out;
  EXPECT_NE(setup.home.log().find("Error  Marlowick - 2 files and 1 folder failed\n"),
            std::string::npos);
}

std::vector<nlohmann::json> reportLines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::istringstream text(readFile(path));
  for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

TEST(RunReport, OneLinePerRequestThatAgreesWithTheFilesOnDisk) {
  Scene setup;
  TempDir reports;
  const std::string report = reports.file("runs.jsonl");
  // A name that is not UTF-8 (the server accepts UTF-8 names, and sends this byte as it is).
  const std::string odd = "odd\xff.txt";
  setup.server.setListing("", fileLine("a.txt", 3) + fileLine("b.txt", 2) + fileLine("same.txt", 4) +
                                  fileLine(odd, 1) + folderLine("up/.."));
  setup.server.setFile("a.txt", "aaa");
  setup.server.setReply("RETR b.txt", "550 Permission denied.");
  setup.server.setFile(odd, "o");
  writeFile(setup.target.file("same.txt"), "same");
  const Tokens args = setup.request(
      {"--report=" + report, "--exitcodes=true", "--overwrite=false", "--recurse=true"});
  ProcessResult first = setup.run(args);
  ProcessResult second = setup.run(setup.request({"--report=" + report, "--port=abc"}));
  EXPECT_EQ(first.exitCode, 4) << first.out;
  const std::string text = readFile(report);
  EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  auto lines = reportLines(report);
  ASSERT_EQ(lines.size(), 2u) << text;
  const nlohmann::json& run = lines[0];
  EXPECT_EQ(run["host"], "127.0.0.1");
  EXPECT_EQ(run["local"], setup.target.path() + "/");
  EXPECT_EQ(run["settings"]["overwrite"], false);
  EXPECT_FALSE(run["settings"].contains("password"));
  EXPECT_LE(run["start"].get<std::string>(), run["end"].get<std::string>());
  ASSERT_EQ(run["files"].size(), 4u);
  std::map<std::string, std::string> outcomes;
  for (const auto& file : run["files"]) {
    std::string local = file["local"];
    if (file.contains("local_bytes")) {
      local.clear();
      const std::string hex = file["local_bytes"];
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        local += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      }
    }
    const std::string outcome = file["outcome"];
    outcomes[std::filesystem::path(local).filename().string()] = outcome;
    // What the report calls saved or skipped is on disk with its listed size; a failure is not.
    EXPECT_EQ(std::filesystem::exists(local), outcome != "failed") << local;
    if (outcome == "saved") {
      EXPECT_EQ(file["bytes"], std::filesystem::file_size(local));
      EXPECT_EQ(file["tries"], 1);
    }
    if (outcome != "saved") {
      EXPECT_EQ(file["bytes"], 0);
    }
    EXPECT_EQ(file.contains("reason"), outcome == "failed");
  }
  EXPECT_EQ(outcomes, (std::map<std::string, std::string>{
                          {"a.txt", "saved"}, {"b.txt", "failed"}, {"same.txt", "skipped"},
                          {odd, "saved"}}));
  EXPECT_EQ(run["folders"].size(), 1u);
  EXPECT_EQ(run["totals"]["saved"], 2);
  EXPECT_EQ(run["totals"]["failed"], 1);
  EXPECT_EQ(run["totals"]["failed_folders"], 1);
  EXPECT_EQ(run["exit_code"], 4);
  // The stopped request is recorded too, with the status it would have.
  EXPECT_EQ(lines[1]["exit_code"], 2);
  EXPECT_EQ(lines[1]["files"].size(), 0u);
}

TEST(RunReport, AReportThatCannotBeWrittenIsAnErrorAndStatusFour) {
  Scene setup;
  setup.serveTwo(false);
  const std::string report = setup.target.file("missing/runs.jsonl");
  ProcessResult result = setup.run(setup.request({"--report=" + report, "--exitcodes=true"}));
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_NE(result.out.find("Unable to write the report " + report + ": No such file"),
            std::string::npos)
      << result.out;
}

TEST(Credentials, ThePasswordComesFromTheEnvironmentOrTheNetrcFile) {
  struct Case {
    const char* what;
    std::string netrc;  // written to ~/.netrc when not empty
    mode_t mode;
    std::string environment;  // MARLOWICK_PASSWORD when not empty
    Tokens account;
    std::string sent;  // "USER x|PASS y", or the message when the request stops
  };
  const Case cases[] = {
      {"environment", "", 0600, "fromenv", {"--username=user"}, "USER user|PASS fromenv"},
      {"argument wins", "", 0600, "fromenv", {"--username=user", "--password=given"},
       "USER user|PASS given"},
      {"netrc machine fills both",
       "machine other login x password y\nmachine 127.0.0.1 login nu password \"n p\"\n", 0600,
       "", {}, "USER nu|PASS n p"},
      {"netrc default", "default login du password dp\n", 0600, "", {}, "USER du|PASS dp"},
      {"environment before netrc", "default login du password dp\n", 0600, "fromenv", {},
       "USER du|PASS fromenv"},
      {"netrc login of another account",
       "machine 127.0.0.1 login nu password np\n", 0600, "", {"--username=user"},
       "password required but was not discovered"},
      {"netrc others may read", "machine 127.0.0.1 login nu password np\n", 0644, "",
       {"--username=user"}, "other users may read or change it (chmod 600 "},
      {"nothing anywhere", "", 0600, "", {"--username=user"},
       "password required but was not discovered"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene setup;
    setup.server.setListing("", "");
    if (!c.netrc.empty()) {
      const std::string netrc = setup.home.path() + "/.netrc";
      writeFile(netrc, c.netrc);
      ::chmod(netrc.c_str(), c.mode);
    }
    Tokens args{"--host=127.0.0.1", "--port=" + std::to_string(setup.server.port()),
                "--local=" + setup.target.path(), "--timeout=5"};
    args.insert(args.end(), c.account.begin(), c.account.end());
    ProcessOptions options;
    if (!c.environment.empty()) options.env["MARLOWICK_PASSWORD"] = c.environment;
    ProcessResult result = c.environment.empty() ? setup.run(args, options)
                                                 : setup.home.run(args, options);
    const auto users = setup.server.commandsWithVerb("USER");
    const auto passwords = setup.server.commandsWithVerb("PASS");
    if (c.sent.starts_with("USER ")) {
      ASSERT_EQ(users.size(), 1u) << result.out;
      ASSERT_EQ(passwords.size(), 1u) << result.out;
      EXPECT_EQ(users[0] + "|" + passwords[0], c.sent);
    } else {
      EXPECT_TRUE(passwords.empty());
      EXPECT_NE(result.out.find(c.sent), std::string::npos) << result.out;
    }
  }
}

TEST(Credentials, AGivenPasswordLeavesTheProcessListing) {
  for (const Tokens& given : {Tokens{"--password=topsecret"}, Tokens{"--password", "topsecret"},
                              Tokens{"--password:topsecret"}}) {
    Scene setup;
    setup.server.setSilent("greeting");
    Tokens args{testing_support::marlowickBinary()};
    for (const std::string& token : setup.request(given, false)) args.push_back(token);
    ProcessOptions options;
    options.env["HOME"] = setup.home.path();
    BackgroundProcess program(args, options);
    program.readUntil(" Connecting 127.0.0.1 ...");
    std::string cmdline = readFile("/proc/" + std::to_string(program.pid()) + "/cmdline");
    EXPECT_EQ(cmdline.find("topsecret"), std::string::npos) << given[0];
    EXPECT_NE(cmdline.find("--password"), std::string::npos) << given[0];
    EXPECT_NE(cmdline.find("--username=user"), std::string::npos) << given[0];
  }
}

}  // namespace
