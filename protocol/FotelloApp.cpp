#include "protocol/FotelloApp.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace fotello {

std::string FotelloApp::homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string FotelloApp::applicationSupportPath() {
  if (const char* home = std::getenv("FOTELLO_HOME"); home && *home) return home;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data && data[0] == '/') {
    return std::string(data) + "/Fotello";
  }
  return homeDirectory() + "/.local/share/Fotello";
}

}  // namespace fotello
