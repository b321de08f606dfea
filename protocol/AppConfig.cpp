#include "protocol/AppConfig.h"

#include <sys/stat.h>

#include <cerrno>
#include <random>

#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/DirectoryWatcher.h"
#include "loomkit/shared/Log.h"
#include "protocol/Defaults.h"
#include "protocol/FotelloApp.h"

namespace fotello {

using loomkit::DictNode;
using loomkit::Error;
using loomkit::strprintf;

namespace {

// A version-4 UUID in the canonical upper-case form, e.g. "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B".
std::string newUuid() {
  std::random_device random;
  uint8_t b[16];
  for (int i = 0; i < 16; i += 4) {
    uint32_t r = random();
    for (int j = 0; j < 4; ++j) b[i + j] = static_cast<uint8_t>(r >> (8 * j));
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  return strprintf("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3],
                   b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

}  // namespace

AppConfig::AppConfig() : AppConfig(FotelloApp::applicationSupportPath() + "/config/app_config.plist") {}

AppConfig::AppConfig(std::string appConfigPath)
    : appConfigPath_(std::move(appConfigPath)), uuid_(newUuid()), iPhotoLibraryPath_(Defaults::iPhotoRootDirectory()) {
  // The object observes its own keys, all but the uuid, and saves on every change outside a load.
  addObserver([this](Key key) {
    if (key == Key::kUuid) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (loading_) return;
    }
    Error error;
    if (!save(&error)) LOG_ERROR("failed to save %s: %s", appConfigPath_.c_str(), error.description().c_str());
  });
}

AppConfig::~AppConfig() = default;

#define FOTELLO_GETTER(type, name, field)        \
  type AppConfig::name() const {                 \
    std::lock_guard<std::mutex> lock(mutex_);    \
    return field;                                \
  }
FOTELLO_GETTER(std::string, uuid, uuid_)
FOTELLO_GETTER(std::optional<std::string>, iPhotoLibraryPath, iPhotoLibraryPath_)
FOTELLO_GETTER(int32_t, tzLogLevel, tzLogLevel_)
FOTELLO_GETTER(bool, statusItemVisible, statusItemVisible_)
FOTELLO_GETTER(bool, autoLaunchIPhoto, autoLaunchIPhoto_)
FOTELLO_GETTER(int32_t, minFreeDiskSpaceGB, static_cast<int32_t>(minFreeDiskSpaceGB_))
FOTELLO_GETTER(bool, passwordRequired, passwordRequired_)
FOTELLO_GETTER(int32_t, readTimeoutSeconds, readTimeoutSeconds_)
FOTELLO_GETTER(bool, useSAXParser, useSAXParser_)
#undef FOTELLO_GETTER

template <typename T>
void AppConfig::set(T AppConfig::*field, const T& value, Key key) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    this->*field = value;
  }
  notify(key);
}

void AppConfig::setUuid(const std::string& uuid) { set(&AppConfig::uuid_, uuid, Key::kUuid); }
void AppConfig::setIPhotoLibraryPath(const std::optional<std::string>& path) {
  set(&AppConfig::iPhotoLibraryPath_, path, Key::kIPhotoLibraryPath);
}
void AppConfig::setTzLogLevel(int32_t level) { set(&AppConfig::tzLogLevel_, level, Key::kTzLogLevel); }
void AppConfig::setStatusItemVisible(bool visible) {
  set(&AppConfig::statusItemVisible_, visible, Key::kStatusItemVisible);
}
void AppConfig::setAutoLaunchIPhoto(bool launch) { set(&AppConfig::autoLaunchIPhoto_, launch, Key::kAutoLaunchIPhoto); }
void AppConfig::setMinFreeDiskSpaceGB(int32_t gigabytes) {
  // Stored unsigned, handed out as a signed count: the bit pattern round-trips.
  set(&AppConfig::minFreeDiskSpaceGB_, static_cast<uint64_t>(static_cast<int64_t>(gigabytes)),
      Key::kMinFreeDiskSpaceGB);
}
void AppConfig::setPasswordRequired(bool required) {
  set(&AppConfig::passwordRequired_, required, Key::kPasswordRequired);
}
void AppConfig::setReadTimeoutSeconds(int32_t seconds) {
  set(&AppConfig::readTimeoutSeconds_, seconds, Key::kReadTimeoutSeconds);
}
void AppConfig::setUseSAXParser(bool use) { set(&AppConfig::useSAXParser_, use, Key::kUseSAXParser); }

AppConfig::ObserverToken AppConfig::addObserver(Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  ObserverToken token = nextToken_++;
  observers_.emplace_back(token, std::move(observer));
  return token;
}

void AppConfig::removeObserver(ObserverToken token) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(observers_, [token](const auto& entry) { return entry.first == token; });
}

void AppConfig::notify(Key key) {
  std::vector<Observer> targets;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : observers_) targets.push_back(entry.second);
  }
  for (const Observer& observer : targets) observer(key);
}

bool AppConfig::loadWithCreateNew(bool createNew, Error* error) {
  struct stat st;
  bool exists = ::stat(appConfigPath_.c_str(), &st) == 0;
  if (!createNew && !exists) {
    return loomkit::setError(error, kAppConfigErrorDomain, -1, strprintf("%s not found", appConfigPath_.c_str()));
  }
  bool mustSave = createNew;
  if (exists) {
    std::unique_ptr<DictNode> dict = DictNode::dictNodeWithContentsOfXMLFile(appConfigPath_, error);
    if (!dict) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      loading_ = true;
    }
    if (const auto* node = dict->stringNodeForKey("uuid"); node && node->stringValue()) {
      LOG_DEBUG("my uuid: %s", node->stringValue()->c_str());
      if (*node->stringValue() != uuid()) setUuid(*node->stringValue());
    } else {
      LOG_DEBUG("no uuid found in config file; using a new one: %s", uuid().c_str());
      mustSave = true;
    }
    if (const auto* node = dict->stringNodeForKey("iPhotoLibraryPath")) {
      if (node->stringValue() != iPhotoLibraryPath()) setIPhotoLibraryPath(node->stringValue());
    }
    // These two are read without a presence test: a missing key reads as 0.
    const auto* level = dict->integerNodeForKey("tzLogLevel");
    int32_t newLevel = level ? level->intValue() : 0;
    if (newLevel != tzLogLevel()) setTzLogLevel(newLevel);
    if (const auto* node = dict->booleanNodeForKey("statusItemVisible")) {
      if (node->booleanValue() != statusItemVisible()) setStatusItemVisible(node->booleanValue());
    }
    if (const auto* node = dict->booleanNodeForKey("autoLaunchIPhoto")) {
      if (node->booleanValue() != autoLaunchIPhoto()) setAutoLaunchIPhoto(node->booleanValue());
    }
    const auto* minFree = dict->integerNodeForKey("minFreeDiskSpaceGB");
    int32_t newMinFree = minFree ? minFree->intValue() : 0;
    if (newMinFree != minFreeDiskSpaceGB()) setMinFreeDiskSpaceGB(newMinFree);
    if (const auto* node = dict->booleanNodeForKey("passwordRequired")) {
      if (node->booleanValue() != passwordRequired()) setPasswordRequired(node->booleanValue());
    }
    if (const auto* node = dict->integerNodeForKey("readTimeoutSeconds")) {
      if (node->intValue() != readTimeoutSeconds()) setReadTimeoutSeconds(node->intValue());
    } else {
      mustSave = true;
    }
    if (const auto* node = dict->booleanNodeForKey("useSAXParser")) {
      if (node->booleanValue() != useSAXParser()) setUseSAXParser(node->booleanValue());
    } else {
      mustSave = true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    loading_ = false;
  }
  return mustSave ? save(error) : true;
}

bool AppConfig::save(Error* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  DictNode dict;
  if (iPhotoLibraryPath_) dict.putString(*iPhotoLibraryPath_, "iPhotoLibraryPath");
  dict.putString(uuid_, "uuid");
  dict.putInt(tzLogLevel_, "tzLogLevel");
  dict.putBoolean(statusItemVisible_, "statusItemVisible");
  dict.putBoolean(autoLaunchIPhoto_, "autoLaunchIPhoto");
  dict.putInt(static_cast<int32_t>(minFreeDiskSpaceGB_), "minFreeDiskSpaceGB");
  dict.putBoolean(passwordRequired_, "passwordRequired");
  dict.putInt(readTimeoutSeconds_, "readTimeoutSeconds");
  dict.putBoolean(useSAXParser_, "useSAXParser");
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(appConfigPath_, error)) return false;
  return dict.writeXMLToFile(appConfigPath_, error);
}

void AppConfig::monitorForChanges() {
  std::string directory = loomkit::FileSystem::parentPath(appConfigPath_);
  watcher_ = std::make_unique<loomkit::DirectoryWatcher>(
      directory, std::chrono::seconds(1), [this](const std::vector<std::string>& paths) {
        // Every reload reads the whole file, so one per batch of changed paths is enough.
        pathChanged(paths.front());
      });
  Error error;
  if (!watcher_->start(&error)) LOG_ERROR("cannot watch %s: %s", directory.c_str(), error.description().c_str());
}

void AppConfig::pathChanged(const std::string& path) {
  Error error;
  if (!loadWithCreateNew(false, &error)) LOG_ERROR("error loading app config: %s", error.description().c_str());
}

}  // namespace fotello
