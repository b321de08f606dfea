#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fotello::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/fotello-test-XXXXXX";
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

LogCapture::LogCapture(int level) : savedLevel_(loomkit::Log::level()) {
  loomkit::Log::setLevel(level);
  loomkit::Log::setSink([this](int, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  });
}

LogCapture::~LogCapture() {
  loomkit::Log::setSink({});
  loomkit::Log::setLevel(savedLevel_);
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool LogCapture::contains(const std::string& text) const { return count(text) > 0; }

size_t LogCapture::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& line : lines_) n += line.find(text) != std::string::npos;
  return n;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) saved_ = old;
  if (value) ::setenv(name_.c_str(), value->c_str(), 1);
  else ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (saved_) ::setenv(name_.c_str(), saved_->c_str(), 1);
  else ::unsetenv(name_.c_str());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string programPath(const std::string& relative) { return std::string(FOTELLO_BINARY_DIR) + "/" + relative; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv) {
  outputPath_ = dir_.file("output.txt");
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (!extraEnv.count(key)) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : extraEnv) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvCopy = argv;
  for (auto& s : argvCopy) args.push_back(s.data());
  args.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ == 0) {
    int fd = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::execve(args[0], args.data(), envp.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (running()) {
    kill(SIGKILL);
    wait(std::chrono::seconds(5));
  }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int st = 0;
    pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

bool ChildProcess::running() { return !wait(std::chrono::milliseconds(0)).has_value(); }

std::string ChildProcess::output() const { return readFile(outputPath_); }

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (output().find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void ChildProcess::kill(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

}  // namespace fotello::test
