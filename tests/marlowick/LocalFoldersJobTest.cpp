#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "marlowick/Downloader.h"
#include "tests/support/TempDir.h"

namespace marlowick {
namespace {

// The job's own operation, as the transfer loop calls it.
TEST(LocalFoldersJob, CreateFoldersMakesTheWayOrRaisesTheReason) {
  testing_support::TempDir temp;
  Downloader job;
  job.local = temp.file("dl/");
  job.createFolders(job.local + "a/b/f.txt");
  EXPECT_TRUE(std::filesystem::is_directory(temp.file("dl/a/b")));
  EXPECT_TRUE(folderRecorded(temp.file("dl/a/b")));

  testing_support::writeFile(temp.file("dl/c"), "");
  try {
    job.createFolders(job.local + "c/g.txt");
    FAIL() << "no failure raised";
  } catch (const std::runtime_error& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "Path.createPath :: file/folder conflict: " + temp.file("dl/c"));
  }
}

}  // namespace
}  // namespace marlowick
