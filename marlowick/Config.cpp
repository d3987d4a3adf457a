#include "marlowick/Config.h"

#include <stdexcept>
#include <string_view>

#include "marlowick/HelpPages.h"
#include "platform/Console.h"
#include "platform/Paths.h"

#ifndef MARLOWICK_VERSION
#define MARLOWICK_VERSION "0.0.0"
#endif

namespace marlowick {

namespace {
// Made from manual.txt, the source of the manual page too.
constexpr const char* kHelp =
#include "marlowick/HelpText.inc"
    ;
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

std::string Config::helpText() const {
  std::string text = kHelp;
  // The manual can only say where the log usually is; this user's log is here.
  try {
    text += "\nLog file: " + logPath() + "\n";
  } catch (const std::exception&) {
    // No user folder: the Exit status and the manual page still tell the rest.
  }
  return withNativeLineEnds(text);
}

std::string Config::bannerText() const {
  return withNativeLineEnds(
      std::string("Marlowick ") + MARLOWICK_VERSION +
      " - FTP folder downloader. Type help for the arguments, exit to leave.\n");
}

void Config::openHomePage() const { openPage(homePageAddress(), "cmd"); }

void Config::openHowToPage() const { openPage(howToPageAddress(), "cmd"); }

void Config::openLog() const { openOrShow(logPath()); }

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
