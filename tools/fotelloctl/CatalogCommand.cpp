#include "tools/fotelloctl/CatalogCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "catalog/AlbumData.h"
#include "protocol/AddressRemoteComputer.h"
#include "tools/fotelloctl/JsonText.h"
#include "tools/fotelloctl/PeerCommand.h"
#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Format.h"

namespace fotello {

namespace {

// Short names for the JSON texts of the values printed below.
std::string json(std::string_view text) { return JsonText::string(text); }
std::string json(const std::optional<std::string_view>& text) { return JsonText::optional(text); }
std::string json(const std::optional<std::string>& text) { return JsonText::optional(text); }
std::string json(double value) { return JsonText::number(value); }
std::string json(const std::optional<double>& value) { return value ? json(*value) : "null"; }
std::string dateText(double since2001) { return JsonText::dateText(since2001); }

void printJSON(const AlbumData& catalog) {
  std::printf("{\"version\":%u,\"scanDate\":%s,\"photos\":[", AlbumData::kVersion, json(catalog.scanDate()).c_str());
  const char* separator = "\n";
  for (const Photo& p : catalog.allPhotos()) {
    std::printf(
        "%s{\"key\":%s,\"originalSHA1\":%s,\"modifiedSHA1\":%s,\"imagePath\":%s,\"originalPath\":%s,"
        "\"thumbPath\":%s,\"caption\":%s,\"imageType\":%s,\"aspectRatio\":%s,\"dateTaken\":%s,\"rollId\":%llu,"
        "\"originalFileSize\":%llu,\"originalMtimeSec\":%lld,\"originalMtimeNsec\":%lld,"
        "\"modifiedFileSize\":%llu,\"modifiedMtimeSec\":%lld,\"modifiedMtimeNsec\":%lld}",
        separator, json(p.iPhotoKey()).c_str(), json(p.originalSHA1()).c_str(), json(p.modifiedSHA1()).c_str(),
        json(p.imagePath()).c_str(), json(p.originalPathValue()).c_str(), json(p.thumbPath()).c_str(),
        json(p.caption()).c_str(), json(p.imageType()).c_str(), json(p.aspectRatio()).c_str(),
        json(p.dateTaken()).c_str(), static_cast<unsigned long long>(p.rollId()),
        static_cast<unsigned long long>(p.originalFileSize()), static_cast<long long>(p.originalMtimeSec()),
        static_cast<long long>(p.originalMtimeNsec()), static_cast<unsigned long long>(p.modifiedFileSize()),
        static_cast<long long>(p.modifiedMtimeSec()), static_cast<long long>(p.modifiedMtimeNsec()));
    separator = ",\n";
  }
  std::printf("],\"albums\":[");
  separator = "\n";
  for (const auto& [id, album] : catalog.albumsByIPhotoId()) {
    std::printf("%s{\"id\":%d,\"name\":%s,\"master\":%s,\"keys\":[", separator, id, json(album.name()).c_str(),
                album.isMaster() ? "true" : "false");
    const char* comma = "";
    for (const std::string& key : album.photoKeys()) {
      std::printf("%s%s", comma, json(std::string_view(key)).c_str());
      comma = ",";
    }
    std::printf("]}");
    separator = ",\n";
  }
  std::printf("],\"rolls\":[");
  separator = "\n";
  for (const auto& [id, roll] : catalog.rollsByIPhotoId()) {
    std::printf("%s{\"id\":%d,\"name\":%s,\"date\":%s,\"keyPhotoId\":%d,\"photoCount\":%d}", separator, id,
                json(roll.name()).c_str(), json(roll.date()).c_str(), roll.keyIPhotoId(), roll.photoCount());
    separator = ",\n";
  }
  std::printf("]}\n");
}

void printSummary(const AlbumData& catalog) {
  std::printf("version    %u\n", AlbumData::kVersion);
  if (catalog.scanDate()) {
    std::printf("scan date  %s\n", dateText(*catalog.scanDate()).c_str());
    std::printf("digest     %s\n", catalog.sha1()->c_str());
  } else {
    std::printf("scan date  none (an incomplete catalog)\n");
  }
  std::printf("photos     %zu under %zu digests\n", catalog.photoCount(), catalog.photoArraysBySHA1().size());
  for (const Photo& p : catalog.allPhotos()) {
    std::printf("  %-8s %s %s %s\n", std::string(p.iPhotoKey().value_or("(none)")).c_str(),
                std::string(p.originalSHA1().value_or("-")).c_str(),
                std::string(p.modifiedSHA1().value_or("-")).c_str(),
                std::string(p.originalPath().value_or("(no path)")).c_str());
  }
  std::printf("albums     %zu\n", catalog.albumsByIPhotoId().size());
  for (const auto& [id, album] : catalog.albumsByIPhotoId()) {
    std::printf("  %-8d %s%s, %zu photo%s\n", id, album.name().value_or("(no name)").c_str(),
                album.isMaster() ? " (master)" : "", album.photoKeys().size(),
                loomkit::pluralSuffix(static_cast<long long>(album.photoKeys().size())));
  }
  std::printf("rolls      %zu\n", catalog.rollsByIPhotoId().size());
  for (const auto& [id, roll] : catalog.rollsByIPhotoId()) {
    std::printf("  %-8d %s, %s, %d photo%s\n", id, roll.name().value_or("(no name)").c_str(),
                roll.date() ? dateText(*roll.date()).c_str() : "no date", roll.photoCount(),
                loomkit::pluralSuffix(roll.photoCount()));
  }
}

// Everything on standard input, or nothing with the read error.
std::optional<loomkit::Bytes> readStandardInput(loomkit::Error* error) {
  loomkit::Bytes bytes;
  uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return bytes;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      loomkit::setUnixError(error, e, loomkit::systemErrorText(e));
      return std::nullopt;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
}

std::unique_ptr<AlbumData> load(const std::string& file, loomkit::Error* error) {
  if (file == "-") {
    std::optional<loomkit::Bytes> bytes = readStandardInput(error);
    if (!bytes) return nullptr;
    return AlbumData::newFromData(std::make_shared<const loomkit::Bytes>(std::move(*bytes)), error);
  }
  // A catalog store reads a missing file as an empty catalog; here it is an error.
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(file.c_str(), nullptr), &std::free);
  if (!real) {
    int e = errno;
    loomkit::setUnixError(error, e, loomkit::systemErrorText(e));
    return nullptr;
  }
  return AlbumData::newFromCacheFile(real.get(), std::nullopt, error);
}

}  // namespace

void CatalogCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl catalog show [--json] FILE     decode a catalog file (albumData.dat or a peer's\n"
               "                                            /albumdata body; - reads standard input)\n"
               "  fotelloctl catalog fetch [--json] HOST:PORT [--password P] [--uuid UUID]\n"
               "                                            load an agent's catalog and show it\n");
}

namespace {

// A peer's catalog: with the stored password of --uuid through the catalog's own fetch, or with
// the digest of --password.
std::unique_ptr<AlbumData> fetch(const PeerCommand::PeerOptions& options, loomkit::Error* error) {
  auto peer = AddressRemoteComputer::fromHostAndPort(options.address, options.uuid, error);
  if (!peer) return nullptr;
  if (!options.password) return AlbumData::newFromRemoteComputer(*peer, error);
  auto data = IQVData::dataFromRemoteComputer(*peer, "/albumdata", options.headers(), nullptr, nullptr, error);
  if (!data) return nullptr;
  return AlbumData::newFromData(std::make_shared<const loomkit::Bytes>(std::move(*data)), error);
}

}  // namespace

int CatalogCommand::run(const std::vector<std::string>& arguments) {
  if (!arguments.empty() && arguments[0] == "fetch") {
    std::vector<std::string> args(arguments.begin() + 1, arguments.end());
    PeerCommand::PeerOptions options;
    bool asJSON = false;
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--json") {
        asJSON = true;
        args.erase(args.begin() + static_cast<long>(i));
        break;
      }
    }
    if (!PeerCommand::takePeerOptions(args, options) || args.size() != 1) {
      printUsage();
      return 2;
    }
    options.address = args[0];
    loomkit::Error error;
    std::unique_ptr<AlbumData> catalog = fetch(options, &error);
    if (!catalog) {
      std::fprintf(stderr, "fotelloctl: %s: %s\n", options.address.c_str(), error.description().c_str());
      return 1;
    }
    if (asJSON) printJSON(*catalog);
    else printSummary(*catalog);
    return 0;
  }
  const std::vector<std::string>& args = arguments;
  const bool asJSON = args.size() == 3 && args[1] == "--json";
  if (args.empty() || args[0] != "show" || !(args.size() == 2 || asJSON)) {
    printUsage();
    return 2;
  }
  const std::string& file = args.back();
  loomkit::Error error;
  std::unique_ptr<AlbumData> catalog = load(file, &error);
  if (!catalog) {
    std::fprintf(stderr, "fotelloctl: %s: %s\n", file.c_str(), error.description().c_str());
    return 1;
  }
  if (asJSON) printJSON(*catalog);
  else printSummary(*catalog);
  return 0;
}

}  // namespace fotello
