// Reading a netrc file's entry for one server.
#include <gtest/gtest.h>

#include "marlowick/Netrc.h"

namespace {

TEST(Netrc, EntryForAHost) {
  struct Case {
    const char* text;
    const char* host;
    bool found;
    const char* login;
    const char* password;
  };
  const Case cases[] = {
      {"machine h login u password p", "h", true, "u", "p"},
      {"machine H.example login u password p", "h.EXAMPLE", true, "u", "p"},
      {"machine a login u password p\nmachine h\n\tlogin v\n\tpassword q\n", "h", true, "v", "q"},
      {"machine a login u password p", "h", false, "", ""},
      {"machine a login u password p default login d password e", "h", true, "d", "e"},
      // The first machine entry wins, also over a default before it.
      {"default login d password e machine h password q machine h password r", "h", true, "",
       "q"},
      {"machine h login u account acct password p", "h", true, "u", "p"},
      {"machine h login u password \"a b\\\"c\"", "h", true, "u", "a b\"c"},
      {"# machine h login x password y\nmachine h login u password p", "h", true, "u", "p"},
      {"macdef init\ncd /pub\nmachine h password bad\n\nmachine h login u password p", "h", true,
       "u", "p"},
      {"machine h login u password", "h", true, "u", ""},
      {"", "h", false, "", ""},
  };
  for (const Case& c : cases) {
    marlowick::NetrcEntry entry = marlowick::netrcEntry(c.text, c.host);
    EXPECT_EQ(entry.found, c.found) << c.text;
    EXPECT_EQ(entry.login, c.login) << c.text;
    EXPECT_EQ(entry.password, c.password) << c.text;
  }
}

}  // namespace
