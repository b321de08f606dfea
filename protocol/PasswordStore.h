// Where passwords are kept: named items, each holding one secret, found by label.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomkit/shared/Error.h"

namespace fotello {

// Implementations may be called from any thread (the agent's connection threads read the local
// password for every request) and from both programs at once; each operation is atomic.
class PasswordStore {
 public:
  // "AppKeychainErrorDomain": kNotFoundCode when no item has the label, kFailureCode for every
  // other failure.
  static std::string_view errorDomain() { return "AppKeychainErrorDomain"; }
  static constexpr int64_t kNotFoundCode = -2;
  static constexpr int64_t kFailureCode = -1;
  // The account attribute of every item.
  static constexpr const char* kAccount = "Connector";

  virtual ~PasswordStore() = default;

  // Replaces the item of the label (creating it when there is none) with one holding the
  // password's UTF-8 bytes; afterwards exactly one item has the label.
  virtual bool addLabel(const std::string& label, const std::string& password, loomkit::Error* error = nullptr) = 0;
  // The password of the item of that label; kNotFoundCode "keychain item %@ not found" (the label)
  // when there is none.
  virtual std::optional<std::string> passwordForLabel(const std::string& label, loomkit::Error* error = nullptr) = 0;
  // Deletes the item of that label; succeeds when there is none.
  virtual bool deleteLabel(const std::string& label, loomkit::Error* error = nullptr) = 0;
};

}  // namespace fotello
