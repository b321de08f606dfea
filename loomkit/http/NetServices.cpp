#include "loomkit/http/NetServices.h"

namespace loomkit {

const std::string& NetServices::serviceType() {
  static const std::string type = "_fotello._tcp.";
  return type;
}

const std::string& NetServices::domain() {
  static const std::string local = "local.";
  return local;
}

const std::string& NetServices::errorDomain() {
  static const std::string name = "NetServicesErrorDomain";
  return name;
}

bool NetServices::setError(Error* out, Code code, std::string description) {
  return loomkit::setError(out, errorDomain(), code, std::move(description));
}

bool NetServices::isCollision(const Error& error) { return error.is(errorDomain(), kCollisionError); }

bool NetServices::isValidTXTRecordData(const Bytes& bytes) {
  size_t at = 0;
  while (at < bytes.size()) at += 1 + size_t{bytes[at]};
  return at == bytes.size();
}

const Bytes& NetServices::emptyTXTRecordData() {
  static const Bytes empty{0};
  return empty;
}

}  // namespace loomkit
