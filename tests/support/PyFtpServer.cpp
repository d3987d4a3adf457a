#include "tests/support/PyFtpServer.h"

#include <string>

namespace testing_support {

PyFtpServer::PyFtpServer(const std::string& root, const std::string& user,
                         const std::string& password) {
  std::string script = std::string(MARLOWICK_SOURCE_DIR) + "/tests/support/pyftpd.py";
  process_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
      kSystemPython, script, root, "--user", user, "--password", password, "--perm", "elrw"});
  port_ = std::stoi(process_->readLine());
}

}  // namespace testing_support
