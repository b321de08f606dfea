#include "protocol/PhotolibApplication.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "protocol/Defaults.h"
#include "protocol/Process.h"

extern char** environ;

namespace fotello {

namespace {

using loomkit::strprintf;

bool isExecutable(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

std::optional<std::string> besideOwnExecutable() {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self);
  if (n <= 0 || static_cast<size_t>(n) == sizeof self) return std::nullopt;
  std::string path(self, static_cast<size_t>(n));
  std::string candidate = path.substr(0, path.rfind('/') + 1) + PhotolibApplication::kExecutableName;
  return isExecutable(candidate) ? std::optional<std::string>(candidate) : std::nullopt;
}

std::optional<std::string> onPath() {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "";
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    std::string_view dir = dirs.substr(0, colon);
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    if (dir.empty()) continue;
    std::string candidate = std::string(dir) + "/" + PhotolibApplication::kExecutableName;
    if (isExecutable(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string lastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  size_t newline = text.rfind('\n');
  return newline == std::string::npos ? text : text.substr(newline + 1);
}

// Reads both pipes until the child closes them.
void collect(int out, int err, std::string& output, std::string& errors) {
  struct pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&output, &errors};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

std::optional<std::string> PhotolibApplication::executablePath() {
  const char* override = std::getenv(kOverrideVariable);
  if (override && *override) return std::string(override);
  if (auto beside = besideOwnExecutable()) return beside;
  return onPath();
}

bool PhotolibApplication::runTool(const std::vector<std::string>& args, std::string* output, loomkit::Error* error) {
  std::optional<std::string> tool = executablePath();
  if (!tool) {
    return loomkit::setError(error, kPhotoApplicationErrorDomain, -1,
                             strprintf("%s was found neither beside this program nor on PATH", kExecutableName));
  }
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return loomkit::setUnixError(error, errno, "pipe: " + loomkit::systemErrorText(errno));
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    int e = errno;
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return loomkit::setUnixError(error, e, "pipe: " + loomkit::systemErrorText(e));
  }
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<std::string> argv = {*tool};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, tool->c_str(), &actions, nullptr, pointers.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  std::string out, err;
  if (spawned == 0) collect(outPipe[0], errPipe[0], out, err);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  if (spawned != 0) {
    return loomkit::setError(error, kPhotoApplicationErrorDomain, -1,
                             strprintf("cannot run %s: %s", tool->c_str(), loomkit::systemErrorText(spawned).c_str()));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  LOG_DEBUG("%s %s exited with status %d", tool->c_str(), args.empty() ? "" : args[0].c_str(), code);
  if (code != 0) {
    std::string message = lastLine(err);
    if (message.empty()) message = strprintf("%s exited with status %d", kExecutableName, code);
    return loomkit::setError(error, kPhotoApplicationErrorDomain, code, message);
  }
  if (output) *output = std::move(out);
  return true;
}

std::optional<std::string> PhotolibApplication::currentLibraryPath() { return Defaults::iPhotoRootDirectory(); }

std::optional<std::string> PhotolibApplication::version(loomkit::Error* error) {
  std::string output;
  if (!runTool({"--version"}, &output, error)) return std::nullopt;
  return lastLine(output);
}

bool PhotolibApplication::isRunning() {
  std::optional<std::string> tool = executablePath();
  if (!tool) return false;
  // A running program's executable is the file a link names, so links are resolved first.
  std::error_code ec;
  std::filesystem::path file = std::filesystem::canonical(*tool, ec);
  if (ec) file = *tool;
  return Process::isProcessRunningWithBundleIdentifier(file.filename().string());
}

bool PhotolibApplication::quit(loomkit::Error*) { return true; }

bool PhotolibApplication::openLibrary(const std::string& path, loomkit::Error* error) {
  return runTool({"open", path}, nullptr, error);
}

bool PhotolibApplication::importFolder(const std::string& folder, bool removeFolder, loomkit::Error* error) {
  std::optional<std::string> library = currentLibraryPath();
  if (!library) return loomkit::setError(error, kPhotoApplicationErrorDomain, -1, "no current photo library");
  if (!runTool({"import", *library, folder}, nullptr, error)) return false;
  if (!removeFolder) return true;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (ec) {
    return loomkit::setUnixError(error, ec.value(), strprintf("rm -r '%s': %s", folder.c_str(), ec.message().c_str()));
  }
  return true;
}

}  // namespace fotello
