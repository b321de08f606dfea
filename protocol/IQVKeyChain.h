// The passwords of both programs: the local computer's, which peers must prove, and those the
// user typed for other computers, kept in the password store by label.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "protocol/PasswordStore.h"

namespace fotello {

// Stateless apart from the installed store; every operation is safe from any thread. Errors are
// the store's: PasswordStore::errorDomain(), kNotFoundCode when no password has that label.
class IQVKeyChain {
 public:
  // The label of the local computer's password.
  static constexpr const char* kLocalPasswordLabel = "Fotello Local Password";

  static bool setLocalPassword(const std::string& password, loomkit::Error* error = nullptr);
  static std::optional<std::string> localPassword(loomkit::Error* error = nullptr);
  static bool deleteLocalPassword(loomkit::Error* error = nullptr);

  // The password for the peer with the computer identifier uuid.
  static bool setPasswordForUUID(const std::string& password, const std::string& uuid, loomkit::Error* error = nullptr);
  static std::optional<std::string> passwordForUUID(const std::string& uuid, loomkit::Error* error = nullptr);
  // The label of a peer's password: "Fotello: " and the identifier.
  static std::string labelForComputerName(const std::string& uuid);

  // Replaces the password of the label (delete and create in one step of the store).
  static bool addLabel(const std::string& label, const std::string& password, loomkit::Error* error = nullptr);
  static std::optional<std::string> passwordForLabel(const std::string& label, loomkit::Error* error = nullptr);
  // Succeeds when the label has no password.
  static bool deleteLabel(const std::string& label, loomkit::Error* error = nullptr);

  // Makes store the one every operation uses (nullptr: the default again). The default is a
  // FilePasswordStore in the data directory of the moment of each call.
  static void setPasswordStore(std::shared_ptr<PasswordStore> store);

 private:
  static std::shared_ptr<PasswordStore> store();
};

}  // namespace fotello
