#pragma once

#include <ftplib.h>

namespace kestrelkit::net::ftp::detail {

/// Closes a data connection opened by FtpAccess on every way out; ftplib then reads the server's
/// final reply to the transfer into the last response.
class DataConnection {
 public:
  explicit DataConnection(NetBuf* data) : data_(data) {}
  ~DataConnection() { close(); }
  DataConnection(const DataConnection&) = delete;
  DataConnection& operator=(const DataConnection&) = delete;

  void close() {
    if (data_ != nullptr) FtpClose(data_);
    data_ = nullptr;
  }

 private:
  NetBuf* data_;
};

}  // namespace kestrelkit::net::ftp::detail
