#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace util {
class Arguments;
}

namespace marlowick {

/// The environment variable that holds the password when none is given as an argument.
inline constexpr const char* kPasswordVariable = "MARLOWICK_PASSWORD";

/// Where a password stands in the process's argument list: argument `index`, from byte `from`.
struct SecretSpan {
  int index;
  std::size_t from;
};

/// The password values in `args` (the program path first), as the request's parser would read
/// them: the text after `--password=` or `--password:`, and each plain word after a bare
/// `--password`.
std::vector<SecretSpan> passwordSpans(const std::vector<std::string>& args);

/// Fills what the request's `arguments` leave out of the account, adding one token to `tokens`
/// for each: a missing password from the environment variable `kPasswordVariable`, else from
/// the user's netrc file; a missing user name from the netrc's `login`. A netrc password is
/// taken only when its entry names no login or the user name in use. A netrc file that other
/// users may read is refused with an Error line. True when a token was added.
bool supplyCredentials(const util::Arguments& arguments, std::vector<std::string>& tokens);

}  // namespace marlowick
