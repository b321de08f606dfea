// The few process operations both programs need: is a program running, which process is it, and
// kill it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "loomkit/shared/Error.h"

namespace fotello {

// Domain of process lookup errors.
inline constexpr std::string_view kProcessErrorDomain = "ProcessErrorDomain";

// Stateless; safe from any thread. Processes are found through /proc among the current user's
// processes, in the order /proc lists them, skipping processes that have already ended (zombies).
// Linux has no bundle information, so a process is described by two entries: its executable's
// file name (the target of /proc/PID/exe without its folder), which stands for the bundle
// identifier, and its process name (/proc/PID/comm, at most 15 bytes), which stands for the
// bundle name.
class Process {
 public:
  // The two keys of a process's information.
  static constexpr std::string_view kExecutableNameKey = "ExecutableName";
  static constexpr std::string_view kProcessNameKey = "ProcessName";

  static std::string_view errorDomain() { return kProcessErrorDomain; }

  // Whether a process with that executable name, or process name, exists.
  static bool isProcessRunningWithBundleIdentifier(std::string_view identifier);
  static bool isProcessRunningWithBundleName(std::string_view name);
  // The first such process's id, or -1 (with no error) when there is none.
  static pid_t pidOfProcessRunningWithBundleIdentifier(std::string_view identifier, loomkit::Error* error = nullptr);
  // Sends SIGKILL to the first process with that executable name. No such process: false without
  // an error. A refused signal: "kill(%d, SIGKILL): %s" (UnixErrorDomain).
  static bool killProcessWithBundleIdentifier(std::string_view identifier, loomkit::Error* error = nullptr);
  // The text of a process-manager result code ("No error" for 0, "Unknown error" for codes not in
  // the table).
  static const char* descriptionForResultCode(int code);

  // The general forms: the entry under key (one of the two keys above; any other key matches
  // nothing) compared with value exactly. Both end with a TRACE line, "Process with %@ = %@ is
  // %@running" or "Process with %@ = %@ pid = %d". An unreadable /proc logs "GetNextProcess
  // returned error %d" (the errno) at WARN and counts as no match.
  static bool isProcessRunningWithKey(std::string_view key, std::string_view value);
  static pid_t pidOfProcessRunningWithKey(std::string_view key, std::string_view value, loomkit::Error* error = nullptr);

 private:
  // The first matching process, or -1.
  static pid_t findProcess(std::string_view key, std::string_view value);
};

}  // namespace fotello
