#include "marlowick/PartFile.h"

#include <cerrno>
#include <exception>

#include "marlowick/LocalFolders.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace marlowick {
namespace {

constexpr int kNameAttempts = 100;
// Keeps "." + name + suffix within the 255 bytes a file name may have.
constexpr std::size_t kLongestKeptName = 200;

std::string candidate(const std::string& folder, const std::string& name, int attempt) {
  std::string path = folder + "." + name + ".marlowick-part";
  if (attempt > 1) path += "-" + std::to_string(attempt);
  return path;
}

}  // namespace

PartFile::~PartFile() {
  if (pending_) platform::deleteFile(partPath_);
}

bool PartFile::create(std::string& failure) {
  std::size_t slash = finalPath_.rfind(platform::kPathSeparator);
  std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string folder = finalPath_.substr(0, nameStart);
  std::string name = finalPath_.substr(nameStart);
  if (name.size() > kLongestKeptName) name = "marlowick";
  bool folderRemade = false;
  for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
    std::string path = candidate(folder, name, attempt);
    // Made only where nothing is: an existing file is never opened.
    switch (platform::createNewFile(path, &failure)) {
      case platform::NewFile::created:
        partPath_ = std::move(path);
        pending_ = true;
        return true;
      case platform::NewFile::exists:
        continue;
      case platform::NewFile::failed:
        // A folder removed since it was made (between two requests at the prompt, say) is made
        // again, once.
        if (folderRemade || !forgetVanishedFolder(finalPath_)) return false;
        folderRemade = true;
        try {
          createFoldersFor(finalPath_);
        } catch (const std::exception& error) {
          failure = error.what();
          return false;
        }
        --attempt;
        continue;
    }
  }
  failure = platform::errorText(EEXIST);
  return false;
}

bool PartFile::commit(std::string& failure) {
  if (!platform::renameFile(partPath_, finalPath_, &failure)) return false;
  pending_ = false;
  return true;
}

}  // namespace marlowick
