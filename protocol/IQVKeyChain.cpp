#include "protocol/IQVKeyChain.h"

#include <mutex>

#include "loomkit/shared/Format.h"
#include "protocol/FilePasswordStore.h"

namespace fotello {

namespace {

std::mutex gStoreMutex;
std::shared_ptr<PasswordStore> gStore;  // guarded by gStoreMutex

}  // namespace

void IQVKeyChain::setPasswordStore(std::shared_ptr<PasswordStore> store) {
  std::lock_guard lock(gStoreMutex);
  gStore = std::move(store);
}

std::shared_ptr<PasswordStore> IQVKeyChain::store() {
  {
    std::lock_guard lock(gStoreMutex);
    if (gStore) return gStore;
  }
  return FilePasswordStore::newDefaultStore();
}

std::string IQVKeyChain::labelForComputerName(const std::string& uuid) {
  return loomkit::strprintf("%s: %s", "Fotello", uuid.c_str());
}

bool IQVKeyChain::addLabel(const std::string& label, const std::string& password, loomkit::Error* error) {
  return store()->addLabel(label, password, error);
}

std::optional<std::string> IQVKeyChain::passwordForLabel(const std::string& label, loomkit::Error* error) {
  return store()->passwordForLabel(label, error);
}

bool IQVKeyChain::deleteLabel(const std::string& label, loomkit::Error* error) {
  return store()->deleteLabel(label, error);
}

bool IQVKeyChain::setLocalPassword(const std::string& password, loomkit::Error* error) {
  return addLabel(kLocalPasswordLabel, password, error);
}

std::optional<std::string> IQVKeyChain::localPassword(loomkit::Error* error) {
  return passwordForLabel(kLocalPasswordLabel, error);
}

bool IQVKeyChain::deleteLocalPassword(loomkit::Error* error) { return deleteLabel(kLocalPasswordLabel, error); }

bool IQVKeyChain::setPasswordForUUID(const std::string& password, const std::string& uuid, loomkit::Error* error) {
  return addLabel(labelForComputerName(uuid), password, error);
}

std::optional<std::string> IQVKeyChain::passwordForUUID(const std::string& uuid, loomkit::Error* error) {
  return passwordForLabel(labelForComputerName(uuid), error);
}

}  // namespace fotello
