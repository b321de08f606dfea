// The process-wide log: one level for every thread, lines to standard error and the system log.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "loomkit/shared/Format.h"

namespace loomkit {

// Thread-safe. The level is a plain integer read by every thread without a lock; lines are written
// whole under an internal mutex, so lines of different threads never interleave.
class Log {
 public:
  enum Level : int { kNone = 0, kError = 1, kWarn = 2, kInfo = 3, kDebug = 4, kTrace = 5 };

  // The level is 2 (warn) from process start until a program sets it from its configuration.
  static int level() { return level_.load(std::memory_order_relaxed); }
  static void setLevel(int level) { level_.store(level, std::memory_order_relaxed); }
  static bool enabled(int level) { return Log::level() >= level && level > kNone; }

  // "error", "warn", "info", "debug", "trace" in any case give 1 to 5; anything else 0.
  static int levelForName(std::string_view name);
  // "Error", "Warn", "Info", "Debug", "Trace"; "none" for anything else.
  static const char* displayName(int level);

  // Also send lines to the system log (journal or syslog) under this identifier, e.g.
  // "fotello-agent". Until this is called, lines go to standard error only.
  static void openSystemLog(const std::string& identifier);

  // Replaces standard error as the destination of lines (tests); an empty function restores it.
  // The sink receives the level (0 for unconditional lines) and the formatted line.
  using Sink = std::function<void(int level, const std::string& line)>;
  static void setSink(Sink sink);

  // Writes one line of the given level; callers check enabled() first (the macros below do).
  // Levels 1-3: "ERROR [thread %x] msg", "WARN [thread %x]  msg", "INFO [thread %x]  msg";
  // levels 4-5: "DEBUG [thread %x] %p file:line msg" with the object address and the file's base name.
  static void write(int level, const void* object, const char* file, int line, std::string_view message);

  // An unconditional line holding just the message (the start line, for instance).
  static void raw(std::string_view message);

  // The kernel thread id of the caller, as it appears in log lines.
  static unsigned threadNumber();

 private:
  static std::atomic<int> level_;
};

}  // namespace loomkit

#define LOOMKIT_LOG_AT(lvl, obj, ...)                                                              \
  do {                                                                                             \
    if (::loomkit::Log::enabled(lvl))                                                              \
      ::loomkit::Log::write(lvl, obj, __FILE__, __LINE__, ::loomkit::strprintf(__VA_ARGS__));      \
  } while (0)

// printf-style logging: LOG_INFO("port %d was in use; binding at a random port", port).
#define LOG_ERROR(...) LOOMKIT_LOG_AT(::loomkit::Log::kError, nullptr, __VA_ARGS__)
#define LOG_WARN(...) LOOMKIT_LOG_AT(::loomkit::Log::kWarn, nullptr, __VA_ARGS__)
#define LOG_INFO(...) LOOMKIT_LOG_AT(::loomkit::Log::kInfo, nullptr, __VA_ARGS__)
#define LOG_DEBUG(...) LOOMKIT_LOG_AT(::loomkit::Log::kDebug, nullptr, __VA_ARGS__)
#define LOG_TRACE(...) LOOMKIT_LOG_AT(::loomkit::Log::kTrace, nullptr, __VA_ARGS__)
// The same with the object whose address the DEBUG and TRACE lines show.
#define LOG_DEBUG_OBJ(obj, ...) LOOMKIT_LOG_AT(::loomkit::Log::kDebug, obj, __VA_ARGS__)
#define LOG_TRACE_OBJ(obj, ...) LOOMKIT_LOG_AT(::loomkit::Log::kTrace, obj, __VA_ARGS__)
