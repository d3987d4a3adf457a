#include "marlowick/PartFile.h"

#include <fmt/format.h>

#include <cstring>
#include <exception>

#include "marlowick/LocalFolders.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "util/Text.h"

namespace marlowick {
namespace {

// Keeps "." + name + suffix within the 255 bytes a file name may have.
constexpr std::size_t kLongestKeptName = 200;

/// A digest of a long name (64-bit FNV-1a), so that two long names in one folder keep apart.
std::string digestOf(const std::string& name) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return fmt::format("{:016x}", hash);
}

std::string partPathFor(const std::string& finalPath) {
  const std::size_t slash = finalPath.rfind(platform::kPathSeparator);
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = finalPath.substr(nameStart);
  if (name.size() > kLongestKeptName) name = digestOf(name);
  return finalPath.substr(0, nameStart) + "." + name + PartFile::kSuffix;
}

}  // namespace

PartFile::PartFile(std::string finalPath)
    : finalPath_(std::move(finalPath)), partPath_(partPathFor(finalPath_)) {}

PartFile::~PartFile() {
  // Only the file written is removed, never what was put at its place meanwhile.
  if (pending_ && file_.isAt(partPath_)) platform::deleteFile(partPath_);
}

bool PartFile::create(std::string& failure) {
  for (bool folderRemade = false;;) {
    switch (platform::createNewFile(partPath_, &failure)) {
      case platform::NewFile::created:
      case platform::NewFile::exists:
        return hold(failure);
      case platform::NewFile::failed:
        break;
    }
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
  }
}

bool PartFile::hold(std::string& failure) {
  // Whatever someone who may write to the folder put there, a link, a FIFO or a second name of
  // another file, is never written through nor waited on: only a plain file is, the one opened
  // here and judged on its descriptor, and every byte of the transfer goes to that descriptor.
  switch (file_.openHeld(partPath_, &failure)) {
    case platform::LockTaken::taken:
      pending_ = true;
      return true;
    case platform::LockTaken::busy:
      failure = "another process is fetching it into the same folder";
      return false;
    case platform::LockTaken::failed:
      break;
  }
  return false;
}

std::uint64_t PartFile::size() const { return platform::fileSize(partPath_).value_or(0); }

bool PartFile::commit(std::string& failure) {
  // Something put at the part file's place since is not what was written: it never becomes
  // the final file.
  if (!file_.isAt(partPath_)) {
    failure = "the part file was replaced meanwhile";
    return false;
  }
  // Moved while still held, so that no other run takes it up on the way.
  if (!platform::renameFile(partPath_, finalPath_, &failure)) return false;
  pending_ = false;
  return file_.close(&failure);
}

bool isPartFileName(const std::string& name) {
  const std::size_t length = std::strlen(PartFile::kSuffix);
  if (name.size() < length) return false;
  return util::lowerAscii(name.substr(name.size() - length)) == PartFile::kSuffix;
}

}  // namespace marlowick
