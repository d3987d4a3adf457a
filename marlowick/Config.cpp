#include "marlowick/Config.h"

#include <string_view>

#include "marlowick/HelpPages.h"
#include "platform/Console.h"
#include "platform/Paths.h"
#include "platform/Shell.h"

#ifndef MARLOWICK_VERSION
#define MARLOWICK_VERSION "0.0.0"
#endif

namespace marlowick {

namespace {
constexpr const char* kHelp = R"(Marlowick downloads files from an FTP server into a local folder.

Usage:
  marlowick --host=HOST --username=USER --password=PASS --local=FOLDER [options]
  marlowick @FILE [more arguments]     arguments from a response file, one per line
  marlowick COMMAND                    one of the commands below
  marlowick                            interactive prompt (type exit or quit to leave)

Arguments (--name=value, --name:value or --name value):
  --host=HOST            FTP server name or address (required)
  --port=N               server port (default 21)
  --username=USER        account name (required)
  --password=PASS        account password (required)
  --remote=FOLDER        remote folder to start in (default: the login folder)
  --local=FOLDER         existing local folder to download into (required)
  --passive=true|false   passive data connections (default true)
  --recurse=true|false   descend into remote subfolders (default false)
  --include=PATTERNS     wildcard patterns joined by |, matched against the relative path
  --exclude=PATTERNS     wildcard patterns joined by |; a match leaves the file out
  --size=<N | --size=>N  largest (<) or smallest (>) file size, in KB
  --lsize=N, --gsize=N   largest and smallest file size, in KB
  --modified=<N | >N     largest (<) or smallest (>) age, in minutes
  --lmodified=N          largest age, in minutes
  --gmodified=N          smallest age, in minutes
  --maxfiles=N           collect at most N files
  --maxfolders=N         collect at most N folders
  --overwrite=true|false fetch even when a local file of the same size exists (default true)
  --justPrint=true|false list the settings and the selected files, fetch nothing
                         (also --justprint, --JUSTPRINT, --test)
  --image=true|false     binary (true, default) or ASCII (false) transfers
  --connections=N        fetch over N connections at once, 1 to 16 (default 1)
  --timeout=SECONDS      give up on a server silent this long, 0 to 86400; 0 waits without
                         limit (default 60)
  --secure=false|true|implicit
                         FTP over TLS: true asks for it after the greeting (AUTH TLS),
                         implicit speaks it from the first byte (port 990 unless --port)
  --verify=true|false    check the server's certificate and name (default true)
  --cafile=FILE          PEM file of further trusted certificates (a self-signed server's)

Wildcards: * any text, ? one character, [abc] one of a, b, c, [!abc] none of them.

Commands:
  ?, help    show this text
  version    show the version
  log        open the log file
  man        open the how-to page
  home       open the home page
)";
// The texts are written with "\n"; the console gets the native line end.
std::string withNativeLineEnds(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += platform::kLineEnd;
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace

std::string Config::helpText() const { return withNativeLineEnds(kHelp); }

std::string Config::bannerText() const {
  return withNativeLineEnds(
      std::string("Marlowick ") + MARLOWICK_VERSION +
      " - FTP folder downloader. Type help for the arguments, exit to leave.\n");
}

void Config::openHomePage() const { openPage(homePageAddress(), "cmd"); }

void Config::openHowToPage() const { openPage(howToPageAddress(), "cmd"); }

void Config::openLog() const { platform::openDetached(logPath()); }

std::string Config::productName() const { return "Marlowick"; }

std::string Config::homePageAddress() const { return "https://orvendel.example/marlowick/"; }

std::string Config::howToPageAddress() const {
  return "https://orvendel.example/marlowick/how-to";
}

std::string Config::commandLinePageAddress() const {
  return "https://orvendel.example/marlowick/command-line-ftp";
}

std::string Config::applicationFolder() const {
  std::string folder = platform::applicationDataFolder();
  folder += platform::kPathSeparator;
  folder += "Orvendel";
  folder += platform::kPathSeparator;
  folder += "Marlowick";
  folder += platform::kPathSeparator;
  return folder;
}

std::string Config::logPath() const { return applicationFolder() + "log.txt"; }

const Config& config() {
  static const Config instance;
  return instance;
}

}  // namespace marlowick
