// The embedded password store: every item in one property-list file readable only by its user.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "loomkit/plist/DictNode.h"
#include "protocol/PasswordStore.h"

namespace fotello {

// Safe from any thread and any number of processes of the same user. Readers take no lock: the
// file is only ever replaced whole (a temporary file of mode 0600 renamed over it), so a reader
// sees the items before or after a change. Writers hold an exclusive flock on a lock file beside
// it for their read-change-replace, so concurrent changes of different labels are all kept.
//
// The file is a dictionary from label to item; an item is a dictionary with "account"
// ("Connector"), "service" (the label again) and "password" (the secret).
class FilePasswordStore final : public PasswordStore {
 public:
  // The store's file name inside the data directory.
  static constexpr const char* kFileName = "passwords.plist";
  // The largest file the store reads; a bigger one is refused as damaged.
  static constexpr uint64_t kMaxFileBytes = 1024 * 1024;

  // The store in path (created with its directory on the first change).
  explicit FilePasswordStore(std::string path);
  // The store in the data directory (FotelloApp::applicationSupportPath()) at this moment.
  static std::unique_ptr<FilePasswordStore> newDefaultStore();

  // In one replacement of the file, so no reader ever finds the label without a password.
  // Failures (kFailureCode): "error creating keychain item: %@ (code %ld)" for a password that is
  // not UTF-8 or a file that cannot be written, and the read failures below.
  bool addLabel(const std::string& label, const std::string& password, loomkit::Error* error = nullptr) override;
  // Failures besides kNotFoundCode: "error reading password file %@: %@" (unreadable, damaged or
  // larger than kMaxFileBytes), "keychain item %@ has no password".
  std::optional<std::string> passwordForLabel(const std::string& label, loomkit::Error* error = nullptr) override;
  // Failures: "error deleting item for label %@: %@", and the read failures.
  bool deleteLabel(const std::string& label, loomkit::Error* error = nullptr) override;

  const std::string& path() const { return path_; }

 private:
  // The items now in the file; an empty dictionary when there is no file.
  std::unique_ptr<loomkit::DictNode> readItems(loomkit::Error* error) const;
  // Under the writers' lock: reads the items, applies change, and replaces the file with the
  // result when change returns true. A failed write fails with failureText(the write's error).
  bool update(const std::function<bool(loomkit::DictNode& items)>& change,
              const std::function<std::string(const loomkit::Error&)>& failureText, loomkit::Error* error);

  const std::string path_;
};

}  // namespace fotello
