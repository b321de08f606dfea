// The agent status record: cataloging progress, the last scan's date and error, the digest of the
// catalog served, and who the agent is. Its byte form is both the DNS-SD TXT record of the agent's
// announcement and the body of its "/status" answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace fotello {

class AlbumData;
class AppConfig;
class RemoteComputer;

inline constexpr std::string_view kIQVAgentStatusErrorDomain = "IQVAgentStatusErrorDomain";

// Immutable once built: share it freely between threads. Build it on the thread that needs it.
class IQVAgentStatus {
 public:
  // The version item every record starts with.
  static constexpr uint64_t kDataVersion = 6;
  // The most bytes one item holds: its length is a single byte.
  static constexpr size_t kMaxItemLength = 255;

  // Every field as given. scanDate: seconds since 2001-01-01 00:00:00 UTC. An empty uuid,
  // computer name or user name travels as an absent item, which reads back as empty.
  IQVAgentStatus(std::optional<double> scanDate, std::optional<loomkit::Error> scanError,
                 std::optional<std::string> albumDataSHA1, uint64_t currentPhoto, uint64_t totalPhotos,
                 std::string uuid, std::string computerName, std::string userName);

  // "IQVAgentStatusErrorDomain".
  static std::string_view errorDomain() { return kIQVAgentStatusErrorDomain; }

  // The status of a complete catalog: its scan date and digest, both counts the number of its
  // original-photo digests, no error. Identity from the configuration and the host.
  static std::unique_ptr<IQVAgentStatus> newWithAlbumData(const AlbumData& albumData, const AppConfig& appConfig);
  // The status of a running scan: no date, digest or error.
  static std::unique_ptr<IQVAgentStatus> newWithCurrentPhoto(uint64_t currentPhoto, uint64_t totalPhotos,
                                                             const AppConfig& appConfig);
  // The status of a failed scan: the date and error as given, counts 0, no digest.
  static std::unique_ptr<IQVAgentStatus> newWithScanDate(std::optional<double> scanDate,
                                                         std::optional<loomkit::Error> scanError,
                                                         const AppConfig& appConfig);
  // Parses the byte form, which may come from anyone on the network. Fails with -1 "Error
  // reading status: %@" when an item is missing, runs past the end or is not a number where one
  // is expected, and with -3 "Invalid Fotello version (%qu)" for a version other than 6; never
  // yields a partly filled record. Bytes after the eleventh item are ignored.
  static std::unique_ptr<IQVAgentStatus> newWithTXTRecordData(const uint8_t* data, size_t length,
                                                              loomkit::Error* error = nullptr);
  static std::unique_ptr<IQVAgentStatus> newWithTXTRecordData(const loomkit::Bytes& data,
                                                              loomkit::Error* error = nullptr) {
    return newWithTXTRecordData(data.data(), data.size(), error);
  }

  // A peer's status, fetched from its agent's "/status" (IQVData, with the stored password). A
  // first attempt that meets a reset connection ("UnixErrorDomain" ECONNRESET) or an early end
  // of the answer (BufferedInputStream's end-of-stream code) is logged at DEBUG as "connection
  // was reset getting status from %@; retrying" and made once more; any other failure, and a
  // second one, is passed on unchanged, as is a failure to parse the body.
  static std::unique_ptr<IQVAgentStatus> newFromRemoteComputer(const RemoteComputer& peer,
                                                               loomkit::Error* error = nullptr);
  // The same with the request headers given (IQVData::Headers), for the tools.
  static std::unique_ptr<IQVAgentStatus> newFromRemoteComputer(
      const RemoteComputer& peer, const std::vector<std::pair<std::string, std::string>>& headers,
      loomkit::Error* error = nullptr);

  const std::optional<double>& scanDate() const { return scanDate_; }
  const std::optional<loomkit::Error>& scanError() const { return scanError_; }
  const std::optional<std::string>& albumDataSHA1() const { return albumDataSHA1_; }
  uint64_t currentPhoto() const { return currentPhoto_; }
  uint64_t totalPhotos() const { return totalPhotos_; }
  const std::string& uuid() const { return uuid_; }
  const std::string& computerName() const { return computerName_; }
  const std::string& userName() const { return userName_; }

  // The byte form: eleven length-prefixed items (version, scan date, error domain, code and
  // description, digest, current, total, uuid, computer name, user name). A string longer than
  // 255 bytes is cut at the last UTF-8 character boundary that fits. A negative error code is
  // written with its minus sign, which the reader's signed parse takes back unchanged.
  loomkit::Bytes txtRecordData() const;

  // "<IQVAgentStatus albumDataSHA1=... current=... total=... error=... scandate=... uuid=...
  // computerName=... userName=...>", with "(null)" for an absent digest, error or date.
  std::string description() const;

  // Appends one string item: the single byte 0 for an absent or empty string, else the length
  // byte and the bytes (cut as txtRecordData says).
  static void appendString(const std::optional<std::string_view>& string, loomkit::Bytes& data);
  // Appends the number's decimal digits as a string item.
  static void appendUInt64(uint64_t number, loomkit::Bytes& data);
  // Reads one string item at index and advances it past the item. A length byte 0 and bytes that
  // are not valid UTF-8 give an absent string. Fails with -1 "not enough bytes" at the end and
  // "not enough bytes for string" when the item runs past it; index is then unchanged.
  static bool string(const uint8_t* data, size_t length, size_t& index, std::optional<std::string>& out,
                     loomkit::Error* error = nullptr);
  // Reads one number item: a string item with a signed decimal number at its start (leading
  // blanks and a sign accepted, stopping at the first non-digit, clamped to the signed 64-bit
  // range). Fails as string() does, or with -1 "unable to parse long long from '%@'".
  static bool uint64(const uint8_t* data, size_t length, size_t& index, int64_t& out, loomkit::Error* error = nullptr);

 private:
  // The user the process runs as: the password database's login name, else $USER, else "".
  static std::string currentUserName();

  std::optional<double> scanDate_;
  std::optional<loomkit::Error> scanError_;
  std::optional<std::string> albumDataSHA1_;
  uint64_t currentPhoto_ = 0;
  uint64_t totalPhotos_ = 0;
  std::string uuid_;
  std::string computerName_;
  std::string userName_;
};

}  // namespace fotello
