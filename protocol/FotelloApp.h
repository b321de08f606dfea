// Where the shared files of both programs live, and the protocol version they speak.
#pragma once

#include <string>

namespace fotello {

// Stateless; safe from any thread.
class FotelloApp {
 public:
  // The data directory every shared file lives below: $FOTELLO_HOME when set, else
  // $XDG_DATA_HOME/Fotello, else ~/.local/share/Fotello. Read from the environment at each call.
  static std::string applicationSupportPath();
  // The protocol version both programs send and expect: "2".
  static const char* httpVersionString() { return "2"; }
  // The user's home directory ($HOME, else the password database).
  static std::string homeDirectory();
};

}  // namespace fotello
