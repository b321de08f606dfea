#include "protocol/IQVData.h"

#include "loomkit/crypto/MD5Hash.h"
#include "loomkit/http/HTTPConnectionFactory.h"
#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "protocol/FotelloApp.h"
#include "protocol/IQVKeyChain.h"

namespace fotello {

using loomkit::Error;
using loomkit::strprintf;

IQVData::Headers IQVData::requestHeadersWithPassword(const std::optional<std::string>& password) {
  Headers headers{{kComputerNameHeader, loomkit::Computer::name()}, {kVersionHeader, FotelloApp::httpVersionString()}};
  if (password) headers.emplace_back(kPasswordMD5Header, loomkit::MD5Hash::hashString(*password));
  return headers;
}

IQVData::Headers IQVData::requestHeadersForRemoteComputer(const RemoteComputer& peer) {
  std::optional<std::string> password;
  const std::string uuid = peer.uuid();
  if (!uuid.empty()) {
    Error error;
    password = IQVKeyChain::passwordForUUID(uuid, &error);
    if (!password && !error.is(PasswordStore::errorDomain(), PasswordStore::kNotFoundCode)) {
      LOG_DEBUG("error reading password for %s: %s", uuid.c_str(), error.description().c_str());
    }
  }
  return requestHeadersWithPassword(password);
}

std::vector<std::string> IQVData::urlsForRemoteComputer(const RemoteComputer& peer, const std::string& path) {
  std::vector<std::string> urls;
  for (const loomkit::ServiceAddress& address : peer.addresses()) {
    if (address.family() != AF_INET && address.family() != AF_INET6) continue;
    if (address.port() == 0) continue;
    std::string host = address.numericHost();
    if (host.empty()) continue;
    const char* format = address.family() == AF_INET ? "http://%s:%d%s" : "http://[%s]:%d%s";
    urls.push_back(strprintf(format, host.c_str(), static_cast<int>(address.port()), path.c_str()));
  }
  return urls;
}

std::optional<loomkit::Bytes> IQVData::dataFromRemoteComputer(const RemoteComputer& peer, const std::string& uri,
                                                              std::optional<std::string>* contentEncoding,
                                                              Error* error) {
  return dataFromRemoteComputer(peer, uri, requestHeadersForRemoteComputer(peer), contentEncoding, nullptr, error);
}

std::optional<loomkit::Bytes> IQVData::dataFromRemoteComputer(const RemoteComputer& peer, const std::string& uri,
                                                              const Headers& headers,
                                                              std::optional<std::string>* contentEncoding,
                                                              Error* lastTransportError, Error* error) {
  (void)contentEncoding;  // the client hands every body on decoded
  for (const std::string& url : urlsForRemoteComputer(peer, uri)) {
    std::shared_ptr<loomkit::URLConnection> request =
        loomkit::HTTPConnectionFactory::theFactory().newHTTPConnectionToURL(url, "GET");
    for (const auto& [name, value] : headers) request->setRequestHeader(value, name);
    Error failure;
    std::unique_ptr<loomkit::InputStream> body = request->executeRequest(&failure);
    std::optional<loomkit::Bytes> data;
    if (body) data = body->slurp(&failure);
    if (!data) {
      LOG_WARN("%s failed: %s", url.c_str(), failure.description().c_str());
      if (lastTransportError) *lastTransportError = failure;
      continue;
    }
    const int code = request->responseCode();
    if (code == 200) return data;
    if (code == 403) {
      loomkit::setError(error, httpErrorDomain(), 403, "Access denied");
      return std::nullopt;
    }
    std::string description = strprintf("HTTP error %d", code);
    std::optional<std::string> contentType = request->responseHeaderForKey("Content-Type");
    if (contentType && contentType->rfind("text", 0) == 0 && loomkit::Utf8::isValid(data->data(), data->size())) {
      description.assign(data->begin(), data->end());
    }
    if (code == 404) loomkit::setError(error, httpErrorDomain(), 404, description);
    else loomkit::setError(error, errorDomain(), -1, description);
    return std::nullopt;
  }
  loomkit::setError(error, errorDomain(), -1, strprintf("failed to get %s", uri.c_str()));
  return std::nullopt;
}

}  // namespace fotello
