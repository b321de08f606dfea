#include "loomkit/shared/Computer.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/ComputerImage.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

constexpr size_t kMaxMachineInfoLength = 64 * 1024;
constexpr size_t kMaxImageLength = 1024 * 1024;

// The whole file at path, which must not be a symbolic link nor longer than maxLength bytes.
std::optional<Bytes> readSmallFile(const std::string& path, size_t maxLength, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    setUnixError(error, e, systemErrorText(e));
    return std::nullopt;
  }
  Bytes bytes;
  uint8_t chunk[8192];
  int failure = 0;
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      failure = errno;
      break;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > maxLength) {
      failure = EFBIG;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  if (failure) {
    setUnixError(error, failure, strprintf("read(%s): %s", path.c_str(), systemErrorText(failure).c_str()));
    return std::nullopt;
  }
  return bytes;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads one value of a shell-style assignment from text[i] up to the end of its line: unquoted
// parts (a backslash takes the next character literally; trailing blanks dropped), single-quoted
// parts (literal) and double-quoted parts (a backslash escapes " \ ` $; before any other character
// it stays). A backslash before a line end continues the value on the next line.
std::string parseValue(std::string_view text, size_t& i) {
  std::string value;
  size_t kept = 0;  // length of value without trailing unquoted blanks
  while (i < text.size() && text[i] != '\n') {
    char c = text[i++];
    if (c == '\'') {
      while (i < text.size() && text[i] != '\'') value += text[i++];
      ++i;
    } else if (c == '"') {
      while (i < text.size() && text[i] != '"') {
        char d = text[i++];
        if (d == '\\' && i < text.size()) {
          char e = text[i++];
          if (e == '\n') continue;
          if (!std::strchr("\"\\`$", e)) value += '\\';
          d = e;
        }
        value += d;
      }
      ++i;
    } else if (c == '\\') {
      if (i < text.size() && text[i++] != '\n') value += text[i - 1];
    } else {
      value += c;
      if (isBlank(c)) continue;
    }
    kept = value.size();
  }
  value.resize(kept);
  return value;
}

// The value of the last assignment to key in an environment-style file: lines KEY=value, blank
// lines, and comment lines starting with # or ;.
std::optional<std::string> assignedValue(std::string_view text, std::string_view key) {
  std::optional<std::string> found;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (isBlank(text[i]) || text[i] == '\n')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != '=' && text[i] != '\n') ++i;
    if (i == text.size() || text[i] == '\n' || text[start] == '#' || text[start] == ';') {
      while (i < text.size() && text[i] != '\n') ++i;  // a comment, or a line without '='
      continue;
    }
    size_t end = i;
    while (end > start && isBlank(text[end - 1])) --end;
    ++i;
    while (i < text.size() && isBlank(text[i])) ++i;
    std::string value = parseValue(text, i);
    if (text.substr(start, end - start) == key) found = std::move(value);
  }
  return found;
}

std::optional<std::string> prettyHostname(const std::string& machineInfoPath) {
  std::optional<Bytes> text = readSmallFile(machineInfoPath, kMaxMachineInfoLength, nullptr);
  if (!text) return std::nullopt;
  std::optional<std::string> name = assignedValue(textOf(*text), "PRETTY_HOSTNAME");
  if (!name || name->empty()) return std::nullopt;
  return name;
}

std::optional<std::string> hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::nullopt;
  // "(none)" is the kernel's text for a host name that was never set.
  if (name[0] == '\0' || std::strcmp(name, "(none)") == 0) return std::nullopt;
  return std::string(name);
}

}  // namespace

std::string Computer::name(const std::string& machineInfoPath) {
  if (std::optional<std::string> pretty = prettyHostname(machineInfoPath)) return *pretty;
  if (std::optional<std::string> host = hostName()) return *host;
  return "unknown-computer-name";
}

std::string Computer::computerImageDataPath(const std::string& dataDirectory) {
  return dataDirectory + "/computerIcon.dat";
}

void Computer::storeImageData(const std::string& dataDirectory) {
  std::string path = computerImageDataPath(dataDirectory);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return;
  Error error;
  std::optional<Bytes> tiff = ComputerImage::tiffRepresentation(&error);
  if (!tiff || !FileSystem::writeFileAtomically(path, tiff->data(), tiff->size(), &error)) {
    LOG_ERROR("error writing %s: %s", path.c_str(), error.text().c_str());
  }
}

std::optional<Bytes> Computer::imageData(const std::string& dataDirectory, Error* error) {
  return readSmallFile(computerImageDataPath(dataDirectory), kMaxImageLength, error);
}

}  // namespace loomkit
