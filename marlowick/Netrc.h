#pragma once

#include <string>
#include <string_view>

namespace marlowick {

/// What a netrc file holds for one server.
struct NetrcEntry {
  bool found = false;  ///< a `machine` entry for the server, or a `default` one
  std::string login;
  std::string password;
};

/// The entry of netrc `text` for `host`: the first `machine` entry whose name equals `host`
/// (ASCII letter case ignored), else the `default` entry, else none. Words are separated by
/// blanks, tabs and line ends; a word in double quotes may hold them, with `\` taking the next
/// character as it is; `#` at the start of a word begins a comment to the end of its line.
/// `account` values are passed over, and so are `macdef` bodies, up to the next empty line.
NetrcEntry netrcEntry(std::string_view text, std::string_view host);

}  // namespace marlowick
