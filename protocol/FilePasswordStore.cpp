#include "protocol/FilePasswordStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/FileInputStream.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Format.h"
#include "protocol/FotelloApp.h"

namespace fotello {

using loomkit::DictNode;
using loomkit::Error;
using loomkit::strprintf;

namespace {

constexpr const char* kAccountKey = "account";
constexpr const char* kServiceKey = "service";
constexpr const char* kPasswordKey = "password";

bool fail(Error* error, std::string description) {
  return loomkit::setError(error, PasswordStore::errorDomain(), PasswordStore::kFailureCode, std::move(description));
}

// An exclusive flock on the writers' lock file, released on destruction.
class WriterLock {
 public:
  explicit WriterLock(const std::string& path) {
    if (!loomkit::FileSystem::ensureParentPathExistsForPath(path, &error_)) return;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      int rc;
      do {
        rc = ::flock(fd_, LOCK_EX);
      } while (rc != 0 && errno == EINTR);
      if (rc == 0) return;
    }
    int errnum = errno;
    fail(&error_, strprintf("error locking %s: %s", path.c_str(), loomkit::systemErrorText(errnum).c_str()));
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  ~WriterLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

  bool held(Error* error) const { return fd_ >= 0 || loomkit::passError(error, error_); }

 private:
  int fd_ = -1;
  Error error_;
};

}  // namespace

FilePasswordStore::FilePasswordStore(std::string path) : path_(std::move(path)) {}

std::unique_ptr<FilePasswordStore> FilePasswordStore::newDefaultStore() {
  return std::make_unique<FilePasswordStore>(FotelloApp::applicationSupportPath() + "/" + kFileName);
}

std::unique_ptr<DictNode> FilePasswordStore::readItems(Error* error) const {
  auto damaged = [&](const std::string& reason) {
    fail(error, strprintf("error reading password file %s: %s", path_.c_str(), reason.c_str()));
    return nullptr;
  };
  // One byte beyond the limit shows that the file is larger.
  loomkit::FileInputStream in(path_, 0, kMaxFileBytes + 1);
  Error failure;
  std::optional<loomkit::Bytes> bytes = in.slurp(&failure);
  if (!bytes) {
    if (failure.is(loomkit::kUnixErrorDomain, ENOENT)) return std::make_unique<DictNode>();
    return damaged(failure.description());
  }
  if (bytes->size() > kMaxFileBytes) return damaged("file is too large");
  std::unique_ptr<DictNode> items = DictNode::dictNodeWithXMLData(*bytes, &failure);
  if (!items) return damaged(failure.description());
  return items;
}

bool FilePasswordStore::update(const std::function<bool(DictNode& items)>& change,
                               const std::function<std::string(const Error&)>& failureText, Error* error) {
  WriterLock lock(path_ + ".lock");
  if (!lock.held(error)) return false;
  std::unique_ptr<DictNode> items = readItems(error);
  if (!items) return false;
  if (!change(*items)) return true;
  Error failure;
  if (!items->writeXMLToFile(path_, &failure)) return fail(error, failureText(failure));
  return true;
}

bool FilePasswordStore::addLabel(const std::string& label, const std::string& password, Error* error) {
  if (!loomkit::Utf8::isValid(password)) {
    return fail(error, strprintf("error creating keychain item: password is not valid UTF-8 (code %ld)",
                                 static_cast<long>(kFailureCode)));
  }
  auto item = std::make_unique<DictNode>();
  item->putString(kAccount, kAccountKey);
  item->putString(label, kServiceKey);
  item->putString(password, kPasswordKey);
  return update(
      [&](DictNode& items) {
        items.put(std::move(item), label);  // the item of the label, if any, goes in the same step
        return true;
      },
      [](const Error& failure) {
        return strprintf("error creating keychain item: %s (code %ld)", failure.description().c_str(),
                         static_cast<long>(failure.code()));
      },
      error);
}

std::optional<std::string> FilePasswordStore::passwordForLabel(const std::string& label, Error* error) {
  std::unique_ptr<DictNode> items = readItems(error);
  if (!items) return std::nullopt;
  const DictNode* item = items->dictNodeForKey(label);
  if (!item) {
    loomkit::setError(error, errorDomain(), kNotFoundCode, strprintf("keychain item %s not found", label.c_str()));
    return std::nullopt;
  }
  const loomkit::StringNode* password = item->stringNodeForKey(kPasswordKey);
  if (!password || !password->stringValue()) {
    fail(error, strprintf("keychain item %s has no password", label.c_str()));
    return std::nullopt;
  }
  return *password->stringValue();
}

bool FilePasswordStore::deleteLabel(const std::string& label, Error* error) {
  return update(
      [&](DictNode& items) {
        if (!items.containsKey(label)) return false;
        items.removeKey(label);
        return true;
      },
      [&](const Error& failure) {
        return strprintf("error deleting item for label %s: %s", label.c_str(), failure.description().c_str());
      },
      error);
}

}  // namespace fotello
