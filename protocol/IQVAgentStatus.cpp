#include "protocol/IQVAgentStatus.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

#include "catalog/AlbumData.h"
#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/shared/Log.h"
#include "protocol/AppConfig.h"
#include "protocol/IQVData.h"

namespace fotello {

using loomkit::Bytes;
using loomkit::Error;
using loomkit::setError;
using loomkit::strprintf;

namespace {

// At most this many bytes of a record appear in its debug line.
constexpr size_t kMaxLoggedBytes = 512;

// The longest prefix of text that fits one item and ends at a UTF-8 character boundary.
std::string_view itemPrefix(std::string_view text) {
  if (text.size() <= IQVAgentStatus::kMaxItemLength) return text;
  size_t cut = IQVAgentStatus::kMaxItemLength;
  // text[cut] is the first byte left out: while it continues a character, that character
  // straddles the cut and goes too.
  while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// Whole seconds, the fraction cut off; dates before the reference date (and NaN) give 0.
uint64_t wholeSeconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(seconds);
}

// "<01360331 303000>": the bytes in groups of four, cut after kMaxLoggedBytes.
std::string hexText(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  size_t shown = std::min(length, kMaxLoggedBytes);
  std::string text = "<";
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0 && i % 4 == 0) text += ' ';
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  if (shown < length) text += " ...";
  return text + ">";
}

// Parses a signed decimal number at the start of text, as strtoll does in the C locale.
std::optional<int64_t> leadingInteger(std::string_view text) {
  size_t i = 0;
  auto isBlank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  // Accumulated as a negative number, whose range holds the magnitude of both limits.
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  bool clamped = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (clamped || value < (kMin + digit) / 10) {
      clamped = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (clamped) return negative ? kMin : std::numeric_limits<int64_t>::max();
  if (negative) return value;
  return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

uint64_t countFrom(int64_t value) { return value < 0 ? 0 : static_cast<uint64_t>(value); }

}  // namespace

IQVAgentStatus::IQVAgentStatus(std::optional<double> scanDate, std::optional<Error> scanError,
                               std::optional<std::string> albumDataSHA1, uint64_t currentPhoto, uint64_t totalPhotos,
                               std::string uuid, std::string computerName, std::string userName)
    : scanDate_(scanDate),
      scanError_(std::move(scanError)),
      albumDataSHA1_(std::move(albumDataSHA1)),
      currentPhoto_(currentPhoto),
      totalPhotos_(totalPhotos),
      uuid_(std::move(uuid)),
      computerName_(std::move(computerName)),
      userName_(std::move(userName)) {}

std::unique_ptr<IQVAgentStatus> IQVAgentStatus::newWithAlbumData(const AlbumData& albumData,
                                                                  const AppConfig& appConfig) {
  uint64_t count = albumData.originalPhotoSHA1Count();
  return std::make_unique<IQVAgentStatus>(albumData.scanDate(), std::nullopt, albumData.sha1(), count, count,
                                          appConfig.uuid(), loomkit::Computer::name(), currentUserName());
}

std::unique_ptr<IQVAgentStatus> IQVAgentStatus::newWithCurrentPhoto(uint64_t currentPhoto, uint64_t totalPhotos,
                                                                     const AppConfig& appConfig) {
  return std::make_unique<IQVAgentStatus>(std::nullopt, std::nullopt, std::nullopt, currentPhoto, totalPhotos,
                                          appConfig.uuid(), loomkit::Computer::name(), currentUserName());
}

std::unique_ptr<IQVAgentStatus> IQVAgentStatus::newWithScanDate(std::optional<double> scanDate,
                                                                 std::optional<Error> scanError,
                                                                 const AppConfig& appConfig) {
  return std::make_unique<IQVAgentStatus>(scanDate, std::move(scanError), std::nullopt, 0, 0, appConfig.uuid(),
                                          loomkit::Computer::name(), currentUserName());
}

std::unique_ptr<IQVAgentStatus> IQVAgentStatus::newWithTXTRecordData(const uint8_t* data, size_t length,
                                                                      Error* error) {
  if (loomkit::Log::enabled(loomkit::Log::kDebug)) {
    LOG_DEBUG("initWithTXTRecordData %s", hexText(data, length).c_str());
  }
  size_t index = 0;
  Error itemError;
  int64_t version = 0;
  if (!uint64(data, length, index, version, &itemError)) {
    LOG_ERROR("error reading dataVersion from TXT record data: %s", itemError.description().c_str());
    setError(error, kIQVAgentStatusErrorDomain, -1, "Error reading status: " + itemError.description());
    return nullptr;
  }
  if (static_cast<uint64_t>(version) != kDataVersion) {
    LOG_ERROR("invalid data version %llu; expected %llu", static_cast<unsigned long long>(version),
              static_cast<unsigned long long>(kDataVersion));
    setError(error, kIQVAgentStatusErrorDomain, -3,
             strprintf("Invalid Fotello version (%llu)", static_cast<unsigned long long>(version)));
    return nullptr;
  }

  int64_t date = 0, code = 0, current = 0, total = 0;
  std::optional<std::string> domain, description, sha1, uuid, computerName, userName;
  bool read = uint64(data, length, index, date, &itemError) && string(data, length, index, domain, &itemError) &&
              uint64(data, length, index, code, &itemError) &&
              string(data, length, index, description, &itemError) &&
              string(data, length, index, sha1, &itemError) && uint64(data, length, index, current, &itemError) &&
              uint64(data, length, index, total, &itemError) && string(data, length, index, uuid, &itemError) &&
              string(data, length, index, computerName, &itemError) &&
              string(data, length, index, userName, &itemError);
  if (!read) {
    setError(error, kIQVAgentStatusErrorDomain, -1, "Error reading status: " + itemError.description());
    return nullptr;
  }

  std::optional<double> scanDate;
  if (date != 0) scanDate = static_cast<double>(date);
  std::optional<Error> scanError;
  if (domain && description) scanError = Error(*domain, code, *description);
  auto status = std::make_unique<IQVAgentStatus>(scanDate, std::move(scanError), std::move(sha1), countFrom(current),
                                                 countFrom(total), uuid.value_or(""), computerName.value_or(""),
                                                 userName.value_or(""));
  LOG_DEBUG("loaded from TXT record: %s", status->description().c_str());
  return status;
}

Bytes IQVAgentStatus::txtRecordData() const {
  Bytes data;
  appendUInt64(kDataVersion, data);
  appendUInt64(scanDate_ ? wholeSeconds(*scanDate_) : 0, data);
  if (scanError_) {
    appendString(scanError_->domain(), data);
    appendString(std::to_string(scanError_->code()), data);
    appendString(scanError_->description(), data);
  } else {
    appendString(std::nullopt, data);
    appendUInt64(0, data);
    appendString(std::nullopt, data);
  }
  appendString(albumDataSHA1_, data);
  appendUInt64(currentPhoto_, data);
  appendUInt64(totalPhotos_, data);
  appendString(uuid_, data);
  appendString(computerName_, data);
  appendString(userName_, data);
  return data;
}

std::string IQVAgentStatus::description() const {
  std::string date = scanDate_ ? strprintf("%.0f", *scanDate_) : "(null)";
  return strprintf("<IQVAgentStatus albumDataSHA1=%s current=%llu total=%llu error=%s scandate=%s uuid=%s "
                   "computerName=%s userName=%s>",
                   albumDataSHA1_ ? albumDataSHA1_->c_str() : "(null)",
                   static_cast<unsigned long long>(currentPhoto_), static_cast<unsigned long long>(totalPhotos_),
                   scanError_ ? scanError_->text().c_str() : "(null)", date.c_str(), uuid_.c_str(),
                   computerName_.c_str(), userName_.c_str());
}

void IQVAgentStatus::appendString(const std::optional<std::string_view>& string, Bytes& data) {
  std::string_view item = string ? itemPrefix(*string) : std::string_view();
  data.push_back(static_cast<uint8_t>(item.size()));
  data.insert(data.end(), item.begin(), item.end());
}

void IQVAgentStatus::appendUInt64(uint64_t number, Bytes& data) {
  appendString(std::to_string(number), data);
}

bool IQVAgentStatus::string(const uint8_t* data, size_t length, size_t& index, std::optional<std::string>& out,
                            Error* error) {
  if (index >= length) return setError(error, kIQVAgentStatusErrorDomain, -1, "not enough bytes");
  size_t itemLength = data[index];
  if (itemLength > length - index - 1) {
    return setError(error, kIQVAgentStatusErrorDomain, -1, "not enough bytes for string");
  }
  const uint8_t* bytes = data + index + 1;
  index += 1 + itemLength;
  if (itemLength == 0 || !loomkit::Utf8::isValid(bytes, itemLength)) {
    out.reset();
  } else {
    out.emplace(reinterpret_cast<const char*>(bytes), itemLength);
  }
  return true;
}

bool IQVAgentStatus::uint64(const uint8_t* data, size_t length, size_t& index, int64_t& out, Error* error) {
  size_t cursor = index;
  std::optional<std::string> text;
  if (!string(data, length, cursor, text, error)) return false;
  std::optional<int64_t> value = text ? leadingInteger(*text) : std::nullopt;
  if (!value) {
    return setError(error, kIQVAgentStatusErrorDomain, -1,
                    strprintf("unable to parse long long from '%s'", text ? text->c_str() : "(null)"));
  }
  out = *value;
  index = cursor;
  return true;
}

std::string IQVAgentStatus::currentUserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name) {
    return found->pw_name;
  }
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::unique_ptr<IQVAgentStatus> IQVAgentStatus::newFromRemoteComputer(const RemoteComputer& peer,
                                                                      loomkit::Error* error) {
  return newFromRemoteComputer(peer, IQVData::requestHeadersForRemoteComputer(peer), error);
}

std::unique_ptr<IQVAgentStatus> IQVAgentStatus::newFromRemoteComputer(
    const RemoteComputer& peer, const std::vector<std::pair<std::string, std::string>>& headers,
    loomkit::Error* error) {
  // The request client reports only "failed to get" when no address answered; whether the
  // connection was reset shows in the transport failure behind it.
  auto wasReset = [](const loomkit::Error& e) {
    return e.is(loomkit::BufferedInputStream::errorDomain(), loomkit::BufferedInputStream::kEndOfStreamCode) ||
           e.is(loomkit::kUnixErrorDomain, ECONNRESET);
  };
  loomkit::Error failure;
  loomkit::Error transportFailure;
  std::optional<loomkit::Bytes> data =
      IQVData::dataFromRemoteComputer(peer, "/status", headers, nullptr, &transportFailure, &failure);
  if (!data && (wasReset(failure) || wasReset(transportFailure))) {
    LOG_DEBUG("connection was reset getting status from %s; retrying", peer.computerName().c_str());
    failure = loomkit::Error();
    data = IQVData::dataFromRemoteComputer(peer, "/status", headers, nullptr, nullptr, &failure);
  }
  if (!data) {
    loomkit::passError(error, failure);
    return nullptr;
  }
  return newWithTXTRecordData(*data, error);
}

}  // namespace fotello
