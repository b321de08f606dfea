#include "protocol/SyncComputerRecord.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/ArrayNode.h"
#include "loomkit/plist/BooleanNode.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/plist/IntegerNode.h"
#include "loomkit/plist/StringNode.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "protocol/FotelloApp.h"

namespace fotello {

using loomkit::Bytes;
using loomkit::Error;
using loomkit::strprintf;
using loomkit::systemErrorText;

namespace {

constexpr std::string_view kRecordSuffix = ".synccomputer";

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// An identifier for a log line: printable ASCII kept, anything else as "\xNN", at most 64 bytes
// shown. Identifiers come from the network.
std::string printable(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size() && i < 64; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') out += static_cast<char>(c);
    else out += strprintf("\\x%02x", c);
  }
  if (text.size() > 64) out += "...";
  return out;
}

bool refuseIdentifier(std::string_view uuid, Error* error) {
  std::string shown = printable(uuid);
  LOG_ERROR("refusing '%s' as the name of a peer record: not a computer identifier", shown.c_str());
  return loomkit::setError(error, kSyncComputerRecordErrorDomain, SyncComputerRecord::kInvalidIdentifier,
                           strprintf("invalid computer identifier '%s'", shown.c_str()));
}

// The contents of a regular file of at most kMaxFileSize bytes. A FIFO, device or directory fails
// (opened without blocking, so a FIFO put in the directory cannot hang the reader), as does a
// larger file.
std::optional<Bytes> readRegularFile(const std::string& path, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    int e = errno;
    loomkit::setUnixError(error, e, strprintf("open(%s): %s", path.c_str(), systemErrorText(e).c_str()));
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    int e = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    loomkit::setUnixError(error, e, strprintf("%s is not a regular file", path.c_str()));
    return std::nullopt;
  }
  if (static_cast<uint64_t>(info.st_size) > SyncComputerRecord::kMaxFileSize) {
    ::close(fd);
    loomkit::setError(error, kSyncComputerRecordErrorDomain, SyncComputerRecord::kFileTooLarge,
                      strprintf("%s is larger than %zu bytes", path.c_str(), SyncComputerRecord::kMaxFileSize));
    return std::nullopt;
  }
  Bytes contents;
  contents.reserve(static_cast<size_t>(info.st_size));
  uint8_t chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      loomkit::setUnixError(error, e, strprintf("read(%s): %s", path.c_str(), systemErrorText(e).c_str()));
      return std::nullopt;
    }
    if (n == 0) break;
    if (contents.size() + static_cast<size_t>(n) > SyncComputerRecord::kMaxFileSize) {
      ::close(fd);
      loomkit::setError(error, kSyncComputerRecordErrorDomain, SyncComputerRecord::kFileTooLarge,
                        strprintf("%s is larger than %zu bytes", path.c_str(), SyncComputerRecord::kMaxFileSize));
      return std::nullopt;
    }
    contents.insert(contents.end(), chunk, chunk + n);
  }
  ::close(fd);
  return contents;
}

std::optional<std::string> stringFor(const loomkit::DictNode& dict, std::string_view key) {
  const auto* node = dict.stringNodeForKey(key);
  return node ? node->stringValue() : std::nullopt;
}

}  // namespace

std::string SyncComputerRecord::configuredSyncComputersDir() {
  return FotelloApp::applicationSupportPath() + "/synccomputers";
}

bool SyncComputerRecord::isValidUUID(std::string_view uuid) {
  if (uuid.size() != 36) return false;
  for (size_t i = 0; i < uuid.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? uuid[i] != '-' : !isHex(uuid[i])) return false;
  }
  return true;
}

std::optional<std::string> SyncComputerRecord::pathForUUID(std::string_view uuid) {
  if (!isValidUUID(uuid)) return std::nullopt;
  return configuredSyncComputersDir() + "/" + std::string(uuid) + std::string(kRecordSuffix);
}

std::string SyncComputerRecord::iconPathForPath(const std::string& recordPath) { return recordPath + ".iconImage"; }

std::optional<std::vector<SyncComputerRecord>> SyncComputerRecord::storedRecords(Error* error) {
  const std::string dir = configuredSyncComputersDir();
  std::vector<SyncComputerRecord> records;
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) {
    int e = errno;
    if (e == ENOENT) return records;
    loomkit::setUnixError(error, e, strprintf("opendir(%s): %s", dir.c_str(), systemErrorText(e).c_str()));
    return std::nullopt;
  }
  while (const dirent* entry = ::readdir(listing)) {
    std::string_view name = entry->d_name;
    if (name.size() <= kRecordSuffix.size() || !name.ends_with(kRecordSuffix)) continue;
    const std::string path = dir + "/" + std::string(name);
    Error loadError;
    if (auto record = initFromFile(path, &loadError)) {
      records.push_back(std::move(*record));
    } else {
      LOG_ERROR("error loading from %s: %s", path.c_str(), loadError.description().c_str());
    }
  }
  ::closedir(listing);
  return records;
}

bool SyncComputerRecord::deleteFileForUUID(std::string_view uuid, Error* error) {
  auto path = pathForUUID(uuid);
  if (!path) return refuseIdentifier(uuid, error);
  if (::unlink(path->c_str()) != 0 && errno != ENOENT) {
    int e = errno;
    return loomkit::setUnixError(error, e, strprintf("unlink(%s): %s", path->c_str(), systemErrorText(e).c_str()));
  }
  const std::string iconPath = iconPathForPath(*path);
  if (::unlink(iconPath.c_str()) != 0 && errno != ENOENT) {
    LOG_ERROR("error deleting %s: %s", iconPath.c_str(), systemErrorText(errno).c_str());
  }
  return true;
}

std::optional<SyncComputerRecord> SyncComputerRecord::initFromFile(const std::string& path, Error* error) {
  auto contents = readRegularFile(path, error);
  if (!contents) return std::nullopt;
  auto dict = loomkit::DictNode::dictNodeWithXMLData(*contents, error);
  if (!dict) return std::nullopt;

  // The version is a 32-bit number; a missing one counts as 0.
  const auto* version = dict->integerNodeForKey("dataVersion");
  const int32_t found = version ? version->intValue() : 0;
  if (found != kDataVersion) {
    loomkit::setError(error, kSyncComputerRecordErrorDomain, kInvalidDataVersion,
                      strprintf("invalid data version %d (expected %d)", found, static_cast<int>(kDataVersion)));
    return std::nullopt;
  }

  SyncComputerRecord record;
  record.computerName_ = stringFor(*dict, "computerName");
  record.uuid_ = stringFor(*dict, "uuid");
  record.userName_ = stringFor(*dict, "userName");
  if (const auto* node = dict->booleanNodeForKey("automatic")) record.automatic_ = node->booleanValue();
  if (const auto* node = dict->integerNodeForKey("autoImportSelectionIndex")) {
    record.autoImportSelectionIndex_ = node->intValue();
  }
  if (const auto* albums = dict->arrayNodeForKey("checkedAlbumIds")) {
    for (size_t i = 0; i < albums->size(); ++i) {
      if (const auto* id = albums->integerNodeAtIndex(i)) record.checkedAlbumIPhotoIds_.insert(id->intValue());
    }
  }

  const std::string iconPath = iconPathForPath(path);
  if (loomkit::FileSystem::exists(iconPath)) {
    Error iconError;
    if (auto icon = readRegularFile(iconPath, &iconError)) {
      record.iconImage_ = std::make_shared<const Bytes>(std::move(*icon));
    } else {
      LOG_ERROR("error reading iconImage %s: %s", iconPath.c_str(), iconError.description().c_str());
    }
  }
  return record;
}

Bytes SyncComputerRecord::XMLData() const {
  loomkit::DictNode dict;
  dict.putLongLong(kDataVersion, "dataVersion");
  if (computerName_) dict.putString(computerName_, "computerName");
  if (uuid_) dict.putString(uuid_, "uuid");
  if (userName_) dict.putString(userName_, "userName");
  dict.putBoolean(automatic_, "automatic");
  dict.putInt(autoImportSelectionIndex_, "autoImportSelectionIndex");
  auto albums = std::make_unique<loomkit::ArrayNode>();
  for (int32_t id : checkedAlbumIPhotoIds_) albums->add(std::make_unique<loomkit::IntegerNode>(id));
  dict.put(std::move(albums), "checkedAlbumIds");
  return dict.XMLData();
}

bool SyncComputerRecord::saveToFile(Error* error) const {
  auto path = uuid_ ? pathForUUID(*uuid_) : std::nullopt;
  if (!path) return refuseIdentifier(uuid_.value_or(""), error);
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(*path, error)) return false;
  Bytes data = XMLData();
  if (!loomkit::FileSystem::writeFileAtomically(*path, data.data(), data.size(), error)) return false;
  if (iconImage_) {
    const std::string iconPath = iconPathForPath(*path);
    Error iconError;
    if (!loomkit::FileSystem::writeFileAtomically(iconPath, iconImage_->data(), iconImage_->size(), &iconError)) {
      LOG_ERROR("error writing icon image to %s: %s", iconPath.c_str(), iconError.description().c_str());
    }
  }
  LOG_DEBUG("SyncComputer %s saved to file", computerName_.value_or("(null)").c_str());
  return true;
}

std::string SyncComputerRecord::description() const {
  auto path = uuid_ ? pathForUUID(*uuid_) : std::nullopt;
  return "<SyncComputerRecord: path=" + path.value_or("(null)") + ">";
}

}  // namespace fotello
