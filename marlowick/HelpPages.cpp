#include "marlowick/HelpPages.h"

#include <fcntl.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "marlowick/Config.h"
#include "marlowick/ConsoleOutput.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Shell.h"

namespace marlowick {

std::string pageQuery(const std::string& sourceWord) {
  std::string query = "utm_source=" + sourceWord + "&utm_medium=Marlowick console";
  for (char& c : query) {
    if (c == ' ') c = '_';
  }
  return query;
}

std::string pageAddress(const std::string& base, const std::string& sourceWord,
                        bool alwaysQuestion) {
  const char* separator = (!alwaysQuestion && base.find('?') != std::string::npos) ? "&" : "?";
  return base + separator + pageQuery(sourceWord);
}

void openOrShow(const std::string& target) {
  // Without an opener the user still learns where to look.
  if (!platform::openDetached(target)) consoleLine(target);
}

void openPage(const std::string& base, const std::string& sourceWord) {
  // The desktop's handler for web addresses is the browser the user chose.
  openOrShow(pageAddress(base, sourceWord, false));
}

std::string shortcutContent(const std::string& address) {
  // Internet-shortcut files use CRLF on every system: it is their format.
  return "[DEFAULT]\r\nBASEURL=\r\n[InternetShortcut]\r\nURL=" + address +
         "\r\nWorkingDirectory=\r\nShowCommand=3\r\nIconFile=" + platform::systemFolder() +
         (platform::systemFolder().empty() ? "" : "\\url.dll") +
         "\r\nIconIndex=1\r\nModified=\r\nHotKey=";
}

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

void writeShortcutIfMissing(const std::string& path, const std::string& address) {
  if (platform::pathKind(path) != platform::PathKind::missing) return;
  // "x": never replace a file that appeared meanwhile (the event thread may write it too).
  std::unique_ptr<std::FILE, FileCloser> file(platform::openFile(path, "wbx"));
  if (!file) {
    std::string reason = platform::lastErrorText();
    if (platform::pathKind(path) != platform::PathKind::missing) return;
    throw std::runtime_error(path + ": " + reason);
  }
  std::string content = shortcutContent(address);
  if (std::fwrite(content.data(), 1, content.size(), file.get()) != content.size() ||
      std::fflush(file.get()) != 0) {
    throw std::runtime_error(path + ": " + platform::lastErrorText());
  }
}

}  // namespace

void writeHelpShortcutsTo(const std::string& folder) {
  const Config& settings = config();
  writeShortcutIfMissing(folder + "Marlowick_Home.url",
                         pageAddress(settings.homePageAddress(), "shortcut", true));
  writeShortcutIfMissing(folder + "How_to_Marlowick.url",
                         pageAddress(settings.howToPageAddress(), "shortcut", true));
  writeShortcutIfMissing(folder + "Command_Line_Ftp.url",
                         pageAddress(settings.commandLinePageAddress(), "shortcut", true));
}

void writeHelpShortcuts() {
  writeHelpShortcutsTo(platform::shortcutFolder(config().applicationFolder()));
}

}  // namespace marlowick
