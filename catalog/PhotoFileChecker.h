// Takes the stamps (size, modification time) of photo files on a thread of its own while the
// index is still being parsed, so that a rescan of an unchanged library finds them ready.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "catalog/Photo.h"

namespace fotello {

// Made and fed by one thread (the scanning thread), worked by its own worker thread. The worker
// reads only copies of the paths it is handed, through a ring of slots that the two threads pass
// between them under mutex_; stamps_ belongs to the worker until finish() has joined it. At most
// kSlots photos wait at a time. The feeder never waits for the worker: a photo added while the
// ring is full (the worker is behind, or gets no processor) is passed over and gets no stamps,
// so the stamps only ever save work.
class PhotoFileChecker {
 public:
  static constexpr size_t kSlots = 4096;

  // Starts the worker, which first runs firstJob (when given), then stamps the photos handed to
  // it in order.
  explicit PhotoFileChecker(std::function<void()> firstJob = nullptr);
  // Stops and joins the worker without waiting for the photos not yet stamped.
  ~PhotoFileChecker();
  PhotoFileChecker(const PhotoFileChecker&) = delete;
  PhotoFileChecker& operator=(const PhotoFileChecker&) = delete;

  // Hands over the next photo's files (absent paths are not stamped), unless the ring is full.
  void add(std::optional<std::string_view> originalPath, std::optional<std::string_view> modifiedPath);
  // Waits until every photo handed over is stamped and the worker has ended; then the stamps
  // by photo, in the order of add (empty for a photo passed over; the vector may end early).
  std::vector<Photo::FileStamps> finish();

 private:
  struct Slot {
    std::string original;
    std::string modified;
    bool hasOriginal = false;
    bool hasModified = false;
    size_t photo = 0;  // the photo's number in the order of add
  };

  void run(std::function<void()> firstJob);
  void stop();

  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t photos_ = 0;    // photos offered to add (feeder only)
  size_t added_ = 0;     // photos handed over; slot added_ % kSlots is the feeder's next
  size_t taken_ = 0;     // photos the worker has stamped
  bool closed_ = false;  // nothing more will be added
  bool cancelled_ = false;
  bool workerWaits_ = false;
  std::vector<Photo::FileStamps> stamps_;
  std::thread worker_;
};

}  // namespace fotello
