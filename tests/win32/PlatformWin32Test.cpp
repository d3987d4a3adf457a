// The Windows layer's paths, constants, argument list, console handler and sockets.
// clang-format off
// Winsock 2 before anything that brings in windows.h, which would add the old winsock.h.
#include <winsock2.h>
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Console.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/Socket.h"

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(PlatformWin32, NativeLineEndAndSeparator) {
  EXPECT_EQ(platform::kLineEnd, "\r\n");
  // Callers hand the line end on as a C string.
  EXPECT_EQ(platform::kLineEnd.data()[2], '\0');
  EXPECT_EQ(platform::kPathSeparator, '\\');
}

TEST(PlatformWin32, ProgramFolderHoldsThisProgram) {
  std::string folder = platform::programFolder();
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder[1], ':') << folder;
  EXPECT_EQ(folder.back(), '\\') << folder;
  DWORD attributes = ::GetFileAttributesA((folder + "platform_tests.exe").c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder;
}

TEST(PlatformWin32, ApplicationDataFolderIsTheRoamingFolder) {
  const char* appData = std::getenv("APPDATA");
  ASSERT_NE(appData, nullptr);
  std::string folder = platform::applicationDataFolder();
  EXPECT_EQ(lower(folder), lower(appData));
  EXPECT_NE(folder.back(), '\\');
  EXPECT_NE(::GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(PlatformWin32, SystemFolderHoldsUrlDll) {
  std::string folder = platform::systemFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(lower(folder).substr(1), ":\\windows\\system32");
}

TEST(PlatformWin32, AbsolutePathsHaveADriveColon) {
  struct Case {
    const char* path;
    bool absolute;
  };
  const Case cases[] = {
      {"C:\\jobs\\a.txt", true}, {"d:relative", true}, {"jobs.txt", false},
      {"sub\\jobs.txt", false},  {"", false},          {"C", false},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::isAbsolutePath(c.path), c.absolute) << c.path;
}

TEST(PlatformWin32, ArgumentsComeFromTheWideCommandLine) {
  char name[] = "ignored";
  char* argv[] = {name, nullptr};
  std::vector<std::string> arguments = platform::commandLineArguments(1, argv);
  int count = 0;
  LPWSTR* split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  ASSERT_NE(split, nullptr);
  ::LocalFree(split);
  ASSERT_EQ(arguments.size(), static_cast<std::size_t>(count));
  EXPECT_NE(lower(arguments[0]).find("platform_tests"), std::string::npos) << arguments[0];
  EXPECT_NE(arguments[0], "ignored");
}

TEST(PlatformWin32, ConsoleEventsReachTheHandlerOnTheirOwnThread) {
  static std::atomic<int> seen{-1};
  static std::atomic<DWORD> thread{0};
  ASSERT_TRUE(platform::installConsoleHandler([](int event) {
    thread = ::GetCurrentThreadId();
    seen = event;
    return true;
  }));
  // Ctrl+Break goes to every process on the console; without a console there is nothing to send.
  if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
    GTEST_SKIP() << "no console to send events on (error " << ::GetLastError() << ")";
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (seen.load() < 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(seen.load(), platform::kCtrlBreak);
  EXPECT_NE(thread.load(), ::GetCurrentThreadId());
}

// A connected pair of TCP sockets on the loopback interface.
}  // namespace
