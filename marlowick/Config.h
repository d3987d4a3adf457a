#pragma once

#include <string>

namespace marlowick {

/// Where the program keeps its per-user files, and the product's fixed texts and addresses.
/// Holds no data: every value is a constant or computed on request.
class Config {
 public:
  virtual ~Config() = default;

  virtual std::string helpText() const;
  virtual std::string bannerText() const;
  /// Opens the home page in the user's browser ("cmd" as the source word), or prints its address.
  virtual void openHomePage() const;
  /// Opens the how-to page in the user's browser ("cmd" as the source word), or prints its
  /// address.
  virtual void openHowToPage() const;
  /// Opens the log file with the desktop's open action; prints its path when there is none.
  virtual void openLog() const;
  virtual std::string productName() const;
  virtual std::string homePageAddress() const;
  virtual std::string howToPageAddress() const;
  virtual std::string commandLinePageAddress() const;

  /// The per-user application folder, ending with the separator. Resolved on every call.
  /// Throws std::runtime_error ("getSpecialPath :: " + reason) when the user folder is unknown.
  std::string applicationFolder() const;
  /// applicationFolder() + "log.txt".
  std::string logPath() const;
};

/// The one settings object of the process.
const Config& config();

}  // namespace marlowick
