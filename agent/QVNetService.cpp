#include "agent/QVNetService.h"

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"

namespace fotello {

namespace {

// The longest start of name with at most maxBytes bytes that does not split a UTF-8 character.
std::string utf8Prefix(const std::string& name, size_t maxBytes) {
  if (name.size() <= maxBytes) return name;
  size_t cut = maxBytes;
  // Back up over continuation bytes (10xxxxxx) to the start of the character that did not fit.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

QVNetService::QVNetService(loomkit::DNSServiceRegistry& registry, std::function<std::string()> computerName)
    : registry_(registry),
      computerName_(computerName ? std::move(computerName) : [] { return loomkit::Computer::name(); }) {}

QVNetService::~QVNetService() = default;

std::optional<std::string> QVNetService::name() const {
  if (!netService_) return std::nullopt;
  return netService_->name();
}

std::string QVNetService::candidateName(const std::string& computerName, const std::set<std::string>& failed) {
  std::string name = utf8Prefix(computerName, kMaxNameLength);
  if (!failed.count(name)) return name;
  for (unsigned long n = 1;; ++n) {
    std::string suffix = loomkit::strprintf("-%lu", n);
    std::string candidate = utf8Prefix(computerName, kMaxNameLength - suffix.size()) + suffix;
    if (!failed.count(candidate)) return candidate;
  }
}

void QVNetService::publish() {
  loomkit::requireMainThread();
  netService_.reset();
  std::string name = candidateName(computerName_(), failedNetServiceNames_);
  LOG_DEBUG("publishing my net service '%s'", name.c_str());
  netService_ = registry_.newRegistration(name, loomkit::NetServices::serviceType(), port_, {}, this);
}

void QVNetService::setTXTRecord(std::shared_ptr<const IQVAgentStatus> status) {
  loomkit::requireMainThread();
  agentStatus_ = std::move(status);
  if (published_) applyTXTRecord();
}

void QVNetService::applyTXTRecord() {
  if (!agentStatus_ || !netService_) return;
  loomkit::Bytes data = agentStatus_->txtRecordData();
  LOG_DEBUG("setting TXT record to %s (%lu bytes)", agentStatus_->description().c_str(),
            static_cast<unsigned long>(data.size()));
  // A refusal is not retried: the next status change sends the newer record.
  if (!netService_->setTXTRecordData(data)) LOG_INFO("error setting TXT record data");
}

void QVNetService::netServiceDidPublish(const std::string& name) {
  LOG_INFO("netServiceDidPublish: name = %s", name.c_str());
  published_ = true;
  applyTXTRecord();
}

void QVNetService::netServiceDidNotPublish(const loomkit::Error& error) {
  if (!loomkit::NetServices::isCollision(error)) {
    LOG_ERROR("net service publish error domain=%s code=%d", error.domain().c_str(), static_cast<int>(error.code()));
    return;
  }
  // Copied before publish() lets go of the registration that owns it.
  std::string name = netService_ ? netService_->name() : std::string();
  LOG_WARN("did not publish name %s: name collision; retrying with a different name", name.c_str());
  failedNetServiceNames_.insert(name);
  publish();
}

void QVNetService::netServiceDidStop() { LOG_INFO("net service stopped"); }

}  // namespace fotello
