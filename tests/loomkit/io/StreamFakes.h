// Scripted streams for the io tests: inputs and outputs that misbehave on purpose.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "loomkit/io/InputStream.h"
#include "loomkit/io/OutputStream.h"

namespace fotello::test {

// Yields its bytes in reads of at most `step` bytes, then either ends (0) or fails with
// "TestErrorDomain" 5 "input broke". Records every capacity it was asked for; onEnd runs when it
// is asked for more after its last byte.
class ScriptedInput : public loomkit::InputStream {
 public:
  ScriptedInput(loomkit::Bytes bytes, bool failAtEnd = false, uint64_t step = UINT64_MAX)
      : bytes_(std::move(bytes)), failAtEnd_(failAtEnd), step_(step) {}

  int64_t read(void* buffer, uint64_t capacity, loomkit::Error* error) override {
    requests.push_back(capacity);
    if (pos_ == bytes_.size()) {
      if (onEnd) onEnd();
      if (!failAtEnd_) return 0;
      loomkit::setError(error, "TestErrorDomain", 5, "input broke");
      return -1;
    }
    uint64_t n = std::min({capacity, step_, static_cast<uint64_t>(bytes_.size() - pos_)});
    std::copy_n(bytes_.begin() + pos_, n, static_cast<uint8_t*>(buffer));
    pos_ += n;
    return static_cast<int64_t>(n);
  }
  std::string description() const override { return "<ScriptedInput>"; }

  std::vector<uint64_t> requests;
  std::function<void()> onEnd;

 private:
  loomkit::Bytes bytes_;
  size_t pos_ = 0;
  bool failAtEnd_;
  uint64_t step_;
};

// Collects what it accepts, taking at most `step` bytes per write. Once `capacity` bytes were
// taken, every write returns `whenFull`: 0, or -1 with "TestErrorDomain" 7 "output broke".
class ScriptedOutput : public loomkit::OutputStream {
 public:
  explicit ScriptedOutput(uint64_t step = UINT64_MAX, uint64_t capacity = UINT64_MAX, int whenFull = 0)
      : step_(step), capacity_(capacity), whenFull_(whenFull) {}

  int64_t write(const void* bytes, uint64_t length, loomkit::Error* error) override {
    ++calls;
    if (data.size() >= capacity_) {
      if (whenFull_ == 0) return 0;
      loomkit::setError(error, "TestErrorDomain", 7, "output broke");
      return -1;
    }
    uint64_t n = std::min({length, step_, capacity_ - data.size()});
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), p, p + n);
    return static_cast<int64_t>(n);
  }
  uint64_t bytesWritten() const override { return data.size(); }
  std::string description() const override { return "<ScriptedOutput>"; }

  loomkit::Bytes data;
  int calls = 0;

 private:
  uint64_t step_;
  uint64_t capacity_;
  int whenFull_;
};

// n bytes of a fixed pseudo-random pattern.
inline loomkit::Bytes patternBytes(size_t n, uint32_t seed = 1) {
  loomkit::Bytes out(n);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

}  // namespace fotello::test
