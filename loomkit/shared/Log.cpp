#include "loomkit/shared/Log.h"

#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace loomkit {

std::atomic<int> Log::level_{Log::kWarn};

namespace {

std::mutex& outputMutex() {
  static std::mutex m;
  return m;
}

// Guarded by outputMutex().
Log::Sink& sink() {
  static Log::Sink s;
  return s;
}
bool systemLogOpen = false;
std::string systemLogIdentifier;  // openlog keeps the pointer, so the string lives here

int syslogPriority(int level) {
  switch (level) {
    case Log::kError: return LOG_ERR;
    case Log::kWarn: return LOG_WARNING;
    case Log::kInfo: return LOG_INFO;
    case Log::kDebug:
    case Log::kTrace: return LOG_DEBUG;
    default: return LOG_NOTICE;
  }
}

void emit(int level, const std::string& line) {
  std::lock_guard<std::mutex> lock(outputMutex());
  if (sink()) {
    sink()(level, line);
  } else {
    std::string withNewline = line + "\n";
    // One write per line keeps lines whole when several processes share the stream.
    ssize_t ignored = ::write(STDERR_FILENO, withNewline.data(), withNewline.size());
    (void)ignored;
  }
  if (systemLogOpen) ::syslog(syslogPriority(level), "%s", line.c_str());
}

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

int Log::levelForName(std::string_view name) {
  static const char* const names[] = {"error", "warn", "info", "debug", "trace"};
  for (int i = 0; i < 5; ++i) {
    if (name.size() == std::strlen(names[i]) && strncasecmp(name.data(), names[i], name.size()) == 0) return i + 1;
  }
  return kNone;
}

const char* Log::displayName(int level) {
  switch (level) {
    case kError: return "Error";
    case kWarn: return "Warn";
    case kInfo: return "Info";
    case kDebug: return "Debug";
    case kTrace: return "Trace";
    default: return "none";
  }
}

void Log::openSystemLog(const std::string& identifier) {
  std::lock_guard<std::mutex> lock(outputMutex());
  systemLogIdentifier = identifier;
  ::openlog(systemLogIdentifier.c_str(), LOG_PID, LOG_USER);
  systemLogOpen = true;
}

void Log::setSink(Sink s) {
  std::lock_guard<std::mutex> lock(outputMutex());
  sink() = std::move(s);
}

unsigned Log::threadNumber() { return static_cast<unsigned>(::syscall(SYS_gettid)); }

void Log::write(int level, const void* object, const char* file, int line, std::string_view message) {
  std::string text;
  unsigned thread = threadNumber();
  switch (level) {
    case kError: text = strprintf("ERROR [thread %x] ", thread); break;
    case kWarn: text = strprintf("WARN [thread %x]  ", thread); break;
    case kInfo: text = strprintf("INFO [thread %x]  ", thread); break;
    case kDebug:
    case kTrace:
      // "0x0" rather than glibc's "(nil)" for lines made outside an object, so every line has one shape.
      text = strprintf("%s [thread %x] 0x%lx %s:%d ", level == kDebug ? "DEBUG" : "TRACE", thread,
                       static_cast<unsigned long>(reinterpret_cast<uintptr_t>(object)), baseName(file), line);
      break;
    default: break;
  }
  text.append(message);
  emit(level, text);
}

void Log::raw(std::string_view message) { emit(kNone, std::string(message)); }

}  // namespace loomkit
