#include "tools/fotelloctl/PeerCommand.h"

#include <unistd.h>

#include <cstdio>

#include "loomkit/http/HTTPConnectionFactory.h"
#include "loomkit/io/FDOutputStream.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/Streams.h"
#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Format.h"
#include "protocol/AddressRemoteComputer.h"
#include "protocol/IQVAgentStatus.h"

namespace fotello {

namespace {

std::string json(std::string_view text) {
  std::string out = "\"";
  bool valid = loomkit::Utf8::isValid(text);
  for (unsigned char c : text) {
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c == 0x7f || (!valid && c >= 0x80)) out += loomkit::strprintf("\\u%04x", c);
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::unique_ptr<AddressRemoteComputer> peerFor(const PeerCommand::PeerOptions& options) {
  loomkit::Error error;
  auto peer = AddressRemoteComputer::fromHostAndPort(options.address, options.uuid, &error);
  if (!peer) std::fprintf(stderr, "fotelloctl: %s\n", error.description().c_str());
  return peer;
}

}  // namespace

IQVData::Headers PeerCommand::PeerOptions::headers() const {
  if (password) return IQVData::requestHeadersWithPassword(password);
  return IQVData::requestHeadersForRemoteComputer(AddressRemoteComputer({}, uuid, address));
}

bool PeerCommand::takePeerOptions(std::vector<std::string>& args, PeerOptions& options) {
  for (size_t i = 0; i < args.size();) {
    if (args[i] == "--password" || args[i] == "--uuid") {
      if (i + 1 >= args.size()) return false;
      if (args[i] == "--password") options.password = args[i + 1];
      else options.uuid = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    } else {
      ++i;
    }
  }
  return true;
}

void PeerCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl get HOST:PORT PATH [--password P] [--uuid UUID] [-o FILE]\n"
               "                                            request PATH from an agent; prints the status\n"
               "                                            code and the body (to FILE with -o)\n"
               "  fotelloctl status HOST:PORT [--password P] [--uuid UUID]\n"
               "                                            an agent's status record as JSON\n");
}

int PeerCommand::runGet(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  PeerOptions options;
  std::optional<std::string> outputPath;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      outputPath = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      break;
    }
  }
  if (!takePeerOptions(args, options) || args.size() != 2 || args[1].empty() || args[1][0] != '/') {
    printUsage();
    return 2;
  }
  options.address = args[0];
  auto peer = peerFor(options);
  if (!peer) return 1;
  const IQVData::Headers headers = options.headers();
  for (const std::string& url : IQVData::urlsForRemoteComputer(*peer, args[1])) {
    auto request = loomkit::HTTPConnectionFactory::theFactory().newHTTPConnectionToURL(url, "GET");
    for (const auto& [name, value] : headers) request->setRequestHeader(value, name);
    loomkit::Error error;
    std::unique_ptr<loomkit::InputStream> body = request->executeRequestStreamingBody(&error);
    if (!body) {
      std::fprintf(stderr, "fotelloctl: %s failed: %s\n", url.c_str(), error.description().c_str());
      continue;
    }
    std::printf("%d\n", request->responseCode());
    std::fflush(stdout);
    std::unique_ptr<loomkit::OutputStream> out;
    if (outputPath) out = std::make_unique<loomkit::FileOutputStream>(*outputPath);
    else out = std::make_unique<loomkit::FDOutputStream>(STDOUT_FILENO);
    uint64_t written = 0;
    if (!loomkit::Streams::transferFrom(*body, *out, written, &error)) {
      std::fprintf(stderr, "fotelloctl: %s: %s\n", url.c_str(), error.description().c_str());
      return 1;
    }
    if (outputPath) std::fprintf(stderr, "%llu bytes written to %s\n", static_cast<unsigned long long>(written), outputPath->c_str());
    return request->responseCode() == 200 ? 0 : 1;
  }
  std::fprintf(stderr, "fotelloctl: failed to get %s\n", args[1].c_str());
  return 1;
}

int PeerCommand::runStatus(const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  PeerOptions options;
  if (!takePeerOptions(args, options) || args.size() != 1) {
    printUsage();
    return 2;
  }
  options.address = args[0];
  auto peer = peerFor(options);
  if (!peer) return 1;
  loomkit::Error error;
  auto status = IQVAgentStatus::newFromRemoteComputer(*peer, options.headers(), &error);
  if (!status) {
    std::fprintf(stderr, "fotelloctl: %s: %s\n", options.address.c_str(), error.description().c_str());
    return 1;
  }
  std::string scanError = "null";
  if (status->scanError()) {
    scanError = loomkit::strprintf("{\"domain\": %s, \"code\": %lld, \"description\": %s}",
                                   json(status->scanError()->domain()).c_str(),
                                   static_cast<long long>(status->scanError()->code()),
                                   json(status->scanError()->description()).c_str());
  }
  std::printf("{\"scanDate\": %s, \"scanError\": %s, \"albumDataSHA1\": %s, \"currentPhoto\": %llu, "
              "\"totalPhotos\": %llu, \"uuid\": %s, \"computerName\": %s, \"userName\": %s}\n",
              status->scanDate() ? loomkit::strprintf("%.0f", *status->scanDate()).c_str() : "null",
              scanError.c_str(), status->albumDataSHA1() ? json(*status->albumDataSHA1()).c_str() : "null",
              static_cast<unsigned long long>(status->currentPhoto()),
              static_cast<unsigned long long>(status->totalPhotos()), json(status->uuid()).c_str(),
              json(status->computerName()).c_str(), json(status->userName()).c_str());
  return 0;
}

}  // namespace fotello
