#include "tools/fotelloctl/PasswordCommand.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <optional>

#include "protocol/IQVKeyChain.h"

namespace fotello {

namespace {

// The longest password read.
constexpr size_t kMaxPasswordBytes = 1024;

// The terminal settings while echo is off, restored at the end or on an interrupt.
termios gSavedTerminal;
volatile sig_atomic_t gEchoOff = 0;

void restoreTerminal() {
  if (gEchoOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
  gEchoOff = 0;
}

void restoreAndRaise(int signal) {
  restoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Turns echo off on the terminal for the life of the object.
class NoEcho {
 public:
  NoEcho() {
    if (::tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) return;
    termios quiet = gSavedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::signal(SIGINT, restoreAndRaise);
    ::signal(SIGTERM, restoreAndRaise);
    gEchoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() { restoreTerminal(); }
};

// One line of standard input without its line end; nothing (after saying why) at the end of
// input before any byte or for a line longer than kMaxPasswordBytes.
std::optional<std::string> readLine() {
  std::string line;
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
    if (line.size() == kMaxPasswordBytes) {
      std::fprintf(stderr, "fotelloctl: the password is longer than %zu bytes\n", kMaxPasswordBytes);
      return std::nullopt;
    }
    line.push_back(static_cast<char>(c));
  }
  if (c == EOF && line.empty()) {
    std::fprintf(stderr, "fotelloctl: no password on standard input\n");
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The new password: one line of standard input; on a terminal asked for twice without echo.
std::optional<std::string> readPassword() {
  if (!::isatty(STDIN_FILENO)) return readLine();
  std::optional<std::string> first, second;
  {
    NoEcho quiet;
    std::fprintf(stderr, "New password: ");
    first = readLine();
    std::fprintf(stderr, "\nRetype new password: ");
    if (first) second = readLine();
    std::fprintf(stderr, "\n");
  }
  if (first && second && *first != *second) {
    std::fprintf(stderr, "fotelloctl: the passwords do not match\n");
    return std::nullopt;
  }
  return second;
}

int set(const std::optional<std::string>& uuid) {
  std::optional<std::string> password = readPassword();
  if (!password) return 1;
  if (password->empty()) {
    std::fprintf(stderr, "fotelloctl: the password is empty (to remove it: fotelloctl password clear%s)\n",
                 uuid ? " UUID" : "-local");
    return 1;
  }
  loomkit::Error error;
  bool stored = uuid ? IQVKeyChain::setPasswordForUUID(*password, *uuid, &error)
                     : IQVKeyChain::setLocalPassword(*password, &error);
  if (!stored) {
    std::fprintf(stderr, "fotelloctl: %s\n", error.description().c_str());
    return 1;
  }
  return 0;
}

int clear(const std::optional<std::string>& uuid) {
  loomkit::Error error;
  bool cleared = uuid ? IQVKeyChain::deleteLabel(IQVKeyChain::labelForComputerName(*uuid), &error)
                      : IQVKeyChain::deleteLocalPassword(&error);
  if (!cleared) {
    std::fprintf(stderr, "fotelloctl: %s\n", error.description().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

void PasswordCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl password set-local             store this computer's password, read from\n"
               "                                            standard input (peers must send it when\n"
               "                                            passwordRequired is on)\n"
               "  fotelloctl password clear-local           remove this computer's password\n"
               "  fotelloctl password set UUID              store the password for the peer UUID, read\n"
               "                                            from standard input\n"
               "  fotelloctl password clear UUID            remove the password for the peer UUID\n");
}

int PasswordCommand::run(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "set-local") return set(std::nullopt);
  if (args.size() == 1 && args[0] == "clear-local") return clear(std::nullopt);
  if (args.size() == 2 && !args[1].empty() && args[0] == "set") return set(args[1]);
  if (args.size() == 2 && !args[1].empty() && args[0] == "clear") return clear(args[1]);
  printUsage();
  return 2;
}

}  // namespace fotello
