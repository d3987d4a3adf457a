// TempDir on Windows: a fresh folder below the user's temporary folder.
#include "tests/support/TempDir.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

std::string utf8(const std::wstring& wide) {
  std::u8string text = std::filesystem::path(wide).u8string();
  return std::string(text.begin(), text.end());
}

// The program's texts are UTF-8; the file system's names are UTF-16.
std::filesystem::path pathOf(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1] = {};
  if (::GetTempPathW(MAX_PATH + 1, base) == 0) throw std::runtime_error("GetTempPathW failed");
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring candidate = std::wstring(base) + L"marlowick-test-" + std::to_wstring(random());
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = utf8(candidate);
      return;
    }
  }
  throw std::runtime_error("no fresh temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(pathOf(path_), ignored);
}

std::string TempDir::file(const std::string& relative) const { return path_ + "\\" + relative; }

std::string readFile(const std::string& path) {
  std::ifstream in(pathOf(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::filesystem::path target = pathOf(path);
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace testing_support
