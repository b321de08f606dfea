// gzip compression and decompression of whole byte buffers (zlib).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "loomkit/io/Bytes.h"

namespace loomkit {

// Stateless; safe from any thread.
class Gzip {
 public:
  // The most gzipInflate produces unless told otherwise: 512 MiB, about ten times the largest
  // catalog a library of 100,000 photos gives, so hostile input cannot exhaust memory.
  static constexpr uint64_t kMaxInflatedLength = 512ull * 1024 * 1024;

  // The gzip form (header and trailer, default level, 15-bit window, memory level 8) of data; an
  // empty buffer stays empty. Nothing only when zlib cannot start.
  static std::optional<Bytes> gzipDeflate(std::span<const uint8_t> data);

  // The decompressed form of data in gzip or zlib form (the header is detected); an empty buffer
  // stays empty. Nothing for data that is not compressed, is truncated, or would inflate to more
  // than maxLength bytes.
  static std::optional<Bytes> gzipInflate(std::span<const uint8_t> data, uint64_t maxLength = kMaxInflatedLength);
};

}  // namespace loomkit
