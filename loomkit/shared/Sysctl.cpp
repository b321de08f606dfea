#include "loomkit/shared/Sysctl.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

// The kernel keeps 64-bit counters per interface in /proc/net/dev (the 32-bit copies that
// getifaddrs hands out wrap every 4 GiB, which would look like a counter reset).
constexpr const char* kInterfaceStatisticsPath = "/proc/net/dev";

bool statisticsError(Error* error, int errnum) {
  return setUnixError(error, errnum, strprintf("sysctl: %s", systemErrorText(errnum).c_str()));
}

// Adds the received and sent byte counters of one "  eth0: rxBytes rxPackets ... txBytes ..." line:
// the first and the ninth number after the colon. Header lines have no colon and add nothing.
void addInterfaceLine(const char* line, uint64_t& bytesIn, uint64_t& bytesOut) {
  const char* colon = std::strchr(line, ':');
  if (!colon) return;
  constexpr int kSentField = 8;
  uint64_t fields[kSentField + 1];
  const char* p = colon + 1;
  for (uint64_t& field : fields) {
    char* end = nullptr;
    field = std::strtoull(p, &end, 10);
    if (end == p) return;
    p = end;
  }
  bytesIn += fields[0];
  bytesOut += fields[kSentField];
}

}  // namespace

bool Sysctl::networkBytesIn(uint64_t& bytesIn, uint64_t& bytesOut, Error* error) {
  return networkBytesInFromFile(kInterfaceStatisticsPath, bytesIn, bytesOut, error);
}

bool Sysctl::networkBytesInFromFile(const std::string& path, uint64_t& bytesIn, uint64_t& bytesOut,
                                    Error* error) {
  bytesIn = 0;
  bytesOut = 0;
  FILE* file = std::fopen(path.c_str(), "re");
  if (!file) return statisticsError(error, errno);
  char* line = nullptr;
  size_t capacity = 0;
  while (::getline(&line, &capacity, file) != -1) addInterfaceLine(line, bytesIn, bytesOut);
  int readError = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
  std::free(line);
  std::fclose(file);
  if (readError != 0) return statisticsError(error, readError);
  return true;
}

}  // namespace loomkit
