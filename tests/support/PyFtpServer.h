#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"

namespace testing_support {

/// A real pyftpdlib server on 127.0.0.1 serving `root` to user/secret, on a port picked at run
/// time; stopped when the object goes away.
class PyFtpServer {
 public:
  explicit PyFtpServer(const std::string& root, const std::string& user = "user",
                       const std::string& password = "secret");
  int port() const { return port_; }
  void stop() { process_->stop(); }

 private:
  std::unique_ptr<BackgroundProcess> process_;
  int port_ = 0;
};

}  // namespace testing_support
