#include "catalog/PhotoFileChecker.h"

#include <algorithm>

namespace fotello {

namespace {

// Photos stamped between two looks at the ring.
constexpr size_t kBatch = 64;

}  // namespace

PhotoFileChecker::PhotoFileChecker(std::function<void()> firstJob) : slots_(kSlots) {
  worker_ = std::thread([this, job = std::move(firstJob)]() mutable { run(std::move(job)); });
}

PhotoFileChecker::~PhotoFileChecker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }
  changed_.notify_all();
  stop();
}

void PhotoFileChecker::stop() {
  if (worker_.joinable()) worker_.join();
}

void PhotoFileChecker::add(std::optional<std::string_view> originalPath,
                           std::optional<std::string_view> modifiedPath) {
  const size_t photo = photos_++;
  std::unique_lock<std::mutex> lock(mutex_);
  if (added_ - taken_ == kSlots) return;
  Slot& slot = slots_[added_ % kSlots];
  // The slot is the feeder's until added_ moves past it: the worker reads only [taken_, added_).
  lock.unlock();
  slot.hasOriginal = originalPath.has_value();
  slot.hasModified = modifiedPath.has_value();
  slot.photo = photo;
  if (originalPath) slot.original.assign(*originalPath);  // reuses the slot's buffer
  if (modifiedPath) slot.modified.assign(*modifiedPath);
  lock.lock();
  ++added_;
  // The worker is woken for a whole batch, not for every photo.
  if (workerWaits_ && added_ - taken_ >= kBatch) changed_.notify_all();
}

std::vector<Photo::FileStamps> PhotoFileChecker::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
  stop();
  return std::move(stamps_);
}

void PhotoFileChecker::run(std::function<void()> firstJob) {
  if (firstJob) firstJob();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workerWaits_ = true;
    changed_.wait(lock, [&] { return added_ - taken_ >= kBatch || closed_ || cancelled_; });
    workerWaits_ = false;
    if (cancelled_ || taken_ == added_) return;  // cancelled, or closed with nothing left
    const size_t end = std::min(added_, taken_ + kBatch);
    lock.unlock();
    // Stamp a batch without the lock, freeing its slots at its end; only slots before end are
    // read. Batches stay short, so that a full ring does not pass over many photos.
    for (size_t i = taken_; i < end; ++i) {
      const Slot& slot = slots_[i % kSlots];
      Photo::FileStamps stamps;
      if (slot.hasOriginal) stamps.original = Photo::stampOfFile(slot.original.c_str());
      if (slot.hasModified) stamps.modified = Photo::stampOfFile(slot.modified.c_str());
      if (stamps_.size() <= slot.photo) stamps_.resize(slot.photo + 1);
      stamps_[slot.photo] = stamps;
    }
    lock.lock();
    taken_ = end;
  }
}

}  // namespace fotello
