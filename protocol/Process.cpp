#include "protocol/Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace fotello {

namespace {

// The text of a small /proc file, or nothing.
std::optional<std::string> readProcFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[512];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

// Whether the process has ended and only waits to be reaped: the state after the name in its
// stat line is "Z" (or "X").
bool hasEnded(const std::string& dir) {
  std::optional<std::string> stat = readProcFile(dir + "/stat");
  if (!stat) return true;
  size_t close = stat->rfind(')');
  if (close == std::string::npos || close + 2 >= stat->size()) return true;
  char state = (*stat)[close + 2];
  return state == 'Z' || state == 'X';
}

std::optional<std::string> executableName(const std::string& dir) {
  char target[4096];
  ssize_t n = ::readlink((dir + "/exe").c_str(), target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) == sizeof target) return std::nullopt;
  std::string path(target, static_cast<size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";  // the file was replaced while it runs
  if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    path.resize(path.size() - kDeleted.size());
  }
  return path.substr(path.rfind('/') + 1);
}

std::optional<std::string> processName(const std::string& dir) {
  std::optional<std::string> comm = readProcFile(dir + "/comm");
  if (comm && !comm->empty() && comm->back() == '\n') comm->pop_back();
  return comm;
}

bool isPid(const char* name) {
  if (!*name) return false;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

}  // namespace

pid_t Process::findProcess(std::string_view key, std::string_view value) {
  if (key != kExecutableNameKey && key != kProcessNameKey) return -1;
  DIR* proc = ::opendir("/proc");
  if (!proc) {
    LOG_WARN("GetNextProcess returned error %d", errno);
    return -1;
  }
  const uid_t me = ::geteuid();
  pid_t found = -1;
  while (struct dirent* entry = ::readdir(proc)) {
    if (!isPid(entry->d_name)) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || st.st_uid != me) continue;
    std::optional<std::string> entryValue = key == kExecutableNameKey ? executableName(dir) : processName(dir);
    if (!entryValue || *entryValue != value || hasEnded(dir)) continue;
    found = static_cast<pid_t>(std::stol(entry->d_name));
    break;
  }
  ::closedir(proc);
  return found;
}

bool Process::isProcessRunningWithKey(std::string_view key, std::string_view value) {
  bool running = findProcess(key, value) >= 0;
  LOG_TRACE("Process with %.*s = %.*s is %srunning", static_cast<int>(key.size()), key.data(),
            static_cast<int>(value.size()), value.data(), running ? "" : "not ");
  return running;
}

pid_t Process::pidOfProcessRunningWithKey(std::string_view key, std::string_view value, loomkit::Error*) {
  // /proc names every process by its id, so a match always has one: the error of a refused
  // lookup never arises here.
  pid_t pid = findProcess(key, value);
  LOG_TRACE("Process with %.*s = %.*s pid = %d", static_cast<int>(key.size()), key.data(),
            static_cast<int>(value.size()), value.data(), static_cast<int>(pid));
  return pid;
}

bool Process::isProcessRunningWithBundleIdentifier(std::string_view identifier) {
  return isProcessRunningWithKey(kExecutableNameKey, identifier);
}

bool Process::isProcessRunningWithBundleName(std::string_view name) {
  return isProcessRunningWithKey(kProcessNameKey, name);
}

pid_t Process::pidOfProcessRunningWithBundleIdentifier(std::string_view identifier, loomkit::Error* error) {
  return pidOfProcessRunningWithKey(kExecutableNameKey, identifier, error);
}

bool Process::killProcessWithBundleIdentifier(std::string_view identifier, loomkit::Error* error) {
  pid_t pid = pidOfProcessRunningWithBundleIdentifier(identifier, error);
  if (pid < 0) return false;
  if (::kill(pid, SIGKILL) != 0) {
    int e = errno;
    return loomkit::setUnixError(error, e,
                                 loomkit::strprintf("kill(%d, SIGKILL): %s", static_cast<int>(pid),
                                                    loomkit::systemErrorText(e).c_str()));
  }
  return true;
}

const char* Process::descriptionForResultCode(int code) {
  switch (code) {
    case 0: return "No error";
    case -600: return "No eligible process with specified process serial number.";
    case -601: return "Not enough room to launch application with special requirements.";
    case -602: return "Addressing mode is 32-bit, but application is not 32-bit clean.";
    case -603: return "app made module calls in improper order";
    case -604: return "Hardware configuration not supported.";
    case -605: return "Partition size specified in SIZE resource is not big enough for launch.";
    case -606: return "Application runs in background only.";
    case -875: return "The application could not launch because the required platform is not available.";
    case -876: return "The application's creator and version are incompatible with the current version of Mac OS.";
    case -877: return "This application will not (or should not) run in Classic.";
    default: return "Unknown error";
  }
}

}  // namespace fotello
