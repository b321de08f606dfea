// The shared configuration file config/app_config.plist: in memory, with locked accessors,
// a save on every change, and a reload whenever the file changes on disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "loomkit/shared/Error.h"

namespace loomkit {
class DirectoryWatcher;
}

namespace fotello {

inline constexpr const char* kAppConfigErrorDomain = "AppConfigErrorDomain";

// Any thread may call the getters and setters: "AppConfig lock" (mutex_) guards every field and is
// held for each single access. Observers run on the thread that called the setter, after the lock
// is released. Loads run on the calling thread; the file watch reloads on the main thread.
class AppConfig {
 public:
  enum class Key {
    kUuid,
    kIPhotoLibraryPath,
    kTzLogLevel,
    kStatusItemVisible,
    kAutoLaunchIPhoto,
    kMinFreeDiskSpaceGB,
    kPasswordRequired,
    kReadTimeoutSeconds,
    kUseSAXParser,
  };
  using Observer = std::function<void(Key key)>;
  using ObserverToken = uint64_t;

  // Defaults: a new random uuid, the photo library tool's current library, log level 3, status
  // item visible, 10 GB minimum free space, no password, 60-second read time-out. The file is
  // applicationSupportPath + "/config/app_config.plist".
  AppConfig();
  // The same with the file at an explicit path (tests, tools).
  explicit AppConfig(std::string appConfigPath);
  ~AppConfig();
  AppConfig(const AppConfig&) = delete;
  AppConfig& operator=(const AppConfig&) = delete;

  const std::string& appConfigPath() const { return appConfigPath_; }

  std::string uuid() const;
  std::optional<std::string> iPhotoLibraryPath() const;
  int32_t tzLogLevel() const;
  bool statusItemVisible() const;
  bool autoLaunchIPhoto() const;
  int32_t minFreeDiskSpaceGB() const;
  bool passwordRequired() const;
  int32_t readTimeoutSeconds() const;
  bool useSAXParser() const;

  // Every setter call notifies the observers of its key; a change of any key but the uuid saves
  // the file at once (outside a load), logging "failed to save %@: %@" when that fails.
  void setUuid(const std::string& uuid);
  void setIPhotoLibraryPath(const std::optional<std::string>& path);
  void setTzLogLevel(int32_t level);
  void setStatusItemVisible(bool visible);
  void setAutoLaunchIPhoto(bool launch);
  void setMinFreeDiskSpaceGB(int32_t gigabytes);
  void setPasswordRequired(bool required);
  void setReadTimeoutSeconds(int32_t seconds);
  void setUseSAXParser(bool use);

  ObserverToken addObserver(Observer observer);
  void removeObserver(ObserverToken token);

  // Reads the file and applies the values that differ from the current ones. With createNew
  // false a missing file fails with "%@ not found" (AppConfigErrorDomain -1). Saves at the end
  // when createNew is true or "uuid", "readTimeoutSeconds" or "useSAXParser" was missing.
  bool loadWithCreateNew(bool createNew, loomkit::Error* error = nullptr);
  // Writes every field to the file atomically, creating its directory when needed.
  bool save(loomkit::Error* error = nullptr);

  // Watches the file's directory (main thread, MainLoop::main()) and reloads on every change,
  // logging "error loading app config: %@" when a reload fails. Call once.
  void monitorForChanges();
  // The watch's reaction: reloads with createNew false.
  void pathChanged(const std::string& path);

 private:
  template <typename T>
  void set(T AppConfig::*field, const T& value, Key key);
  void notify(Key key);

  // Constant after construction.
  const std::string appConfigPath_;

  mutable std::mutex mutex_;  // "AppConfig lock"
  // Guarded by mutex_.
  bool loading_ = false;
  std::string uuid_;
  std::optional<std::string> iPhotoLibraryPath_;
  int32_t tzLogLevel_ = 3;
  bool statusItemVisible_ = true;
  bool autoLaunchIPhoto_ = false;
  uint64_t minFreeDiskSpaceGB_ = 10;
  bool passwordRequired_ = false;
  int32_t readTimeoutSeconds_ = 60;
  bool useSAXParser_ = false;
  ObserverToken nextToken_ = 1;
  std::vector<std::pair<ObserverToken, Observer>> observers_;

  // Main thread only.
  std::unique_ptr<loomkit::DirectoryWatcher> watcher_;
};

}  // namespace fotello
