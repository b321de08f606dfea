// Small helpers shared by the tests: temporary folders, captured log lines, environment overrides,
// and running the project's own programs as child processes.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "loomkit/io/SocketInputStream.h"
#include "loomkit/shared/Log.h"

namespace fotello::test {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Collects every log line while alive and sets the log level; restores both afterwards.
class LogCapture {
 public:
  explicit LogCapture(int level = loomkit::Log::kTrace);
  ~LogCapture();
  std::vector<std::string> lines() const;
  // True when some line contains the text.
  bool contains(const std::string& text) const;
  size_t count(const std::string& text) const;
  void clear();

 private:
  int savedLevel_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
};

// Sets (or with nullopt unsets) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Sets the process-wide socket read time-out for one test and restores the previous value.
class ScopedReadTimeout {
 public:
  explicit ScopedReadTimeout(int64_t seconds) : saved_(loomkit::SocketInputStream::readTimeoutSeconds()) {
    loomkit::SocketInputStream::setReadTimeoutSeconds(seconds);
  }
  ~ScopedReadTimeout() { loomkit::SocketInputStream::setReadTimeoutSeconds(saved_); }

 private:
  int64_t saved_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
bool fileExists(const std::string& path);

// Path of a program the build made, e.g. programPath("agent/fotello-agent").
std::string programPath(const std::string& relative);

// A child process with its standard error (and output) collected into a file.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  // Waits for the exit; returns the exit status (128 + signal when killed), or nullopt on time-out.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  bool running();
  // Everything the child wrote to standard output and error so far.
  std::string output() const;
  // Waits until the output contains text; false on time-out.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  void kill(int signal);

 private:
  int pid_ = -1;
  std::optional<int> status_;
  std::string outputPath_;
  TempDir dir_;
};

}  // namespace fotello::test
