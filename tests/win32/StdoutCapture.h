#pragma once

// Captures what the program writes to standard output, byte for byte. GoogleTest's own capture
// reads its file back in text mode on Windows, which turns "\r\n" into "\n".
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "tests/support/TempDir.h"

namespace testing_support {

class StdoutCapture {
 public:
  StdoutCapture() : path_(dir_.file("stdout.bin")) {
    std::fflush(stdout);
    saved_ = ::_dup(::_fileno(stdout));
    int file = ::_open(path_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    ::_dup2(file, ::_fileno(stdout));
    ::_close(file);
  }
  ~StdoutCapture() { restore(); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  /// Ends the capture and returns the bytes written meanwhile.
  std::string take() {
    restore();
    return readFile(path_);
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::_dup2(saved_, ::_fileno(stdout));
    ::_close(saved_);
    saved_ = -1;
  }

  TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

}  // namespace testing_support
