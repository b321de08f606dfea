#include "loomkit/io/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {
constexpr size_t kDeflateStep = 16384;
// zlib counts in 32-bit units: feed and drain it in pieces no larger than this.
constexpr uint64_t kMaxPiece = std::numeric_limits<uInt>::max();

void feed(z_stream& z, const uint8_t*& in, const uint8_t* inEnd) {
  if (z.avail_in == 0 && in < inEnd) {
    uint64_t piece = std::min<uint64_t>(static_cast<uint64_t>(inEnd - in), kMaxPiece);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(piece);
    in += piece;
  }
}

void room(z_stream& z, Bytes& out, size_t produced) {
  z.next_out = out.data() + produced;
  z.avail_out = static_cast<uInt>(std::min<uint64_t>(out.size() - produced, kMaxPiece));
}
}  // namespace

std::optional<Bytes> Gzip::gzipDeflate(std::span<const uint8_t> data) {
  if (data.empty()) return Bytes();
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return std::nullopt;
  }
  const uint8_t* in = data.data();
  const uint8_t* inEnd = in + data.size();
  Bytes out(kDeflateStep);
  size_t produced = 0;
  int rc;
  do {
    if (produced == out.size()) out.resize(out.size() + kDeflateStep);
    feed(z, in, inEnd);
    room(z, out, produced);
    uInt before = z.avail_out;
    rc = deflate(&z, in == inEnd ? Z_FINISH : Z_NO_FLUSH);
    produced += before - z.avail_out;
  } while (rc == Z_OK || rc == Z_BUF_ERROR);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  out.resize(produced);
  return out;
}

std::optional<Bytes> Gzip::gzipInflate(std::span<const uint8_t> data, uint64_t maxLength) {
  if (data.empty()) return Bytes();
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) return std::nullopt;
  const uint8_t* in = data.data();
  const uint8_t* inEnd = in + data.size();
  // Start at one and a half times the input; grow by at least half the input, geometrically for
  // inputs that expand far. One byte beyond maxLength is room enough to see the output is too long
  // while an output of exactly maxLength still finishes.
  const uint64_t limit = maxLength == UINT64_MAX ? maxLength : maxLength + 1;
  const uint64_t half = std::max<uint64_t>(data.size() / 2, 1);
  Bytes out(std::min<uint64_t>(data.size() + half, limit));
  size_t produced = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (produced == out.size()) {
      if (out.size() >= limit) break;
      out.resize(std::min<uint64_t>(out.size() + std::max<uint64_t>(half, out.size() / 2), limit));
    }
    feed(z, in, inEnd);
    room(z, out, produced);
    uInt before = z.avail_out;
    rc = inflate(&z, Z_SYNC_FLUSH);
    produced += before - z.avail_out;
  }
  if (produced > maxLength) {
    LOG_WARN("gzipInflate: output exceeds %llu bytes; giving up", static_cast<unsigned long long>(maxLength));
    rc = Z_MEM_ERROR;
  }
  bool ended = inflateEnd(&z) == Z_OK;
  if (rc != Z_STREAM_END || !ended) return std::nullopt;
  out.resize(produced);
  return out;
}

}  // namespace loomkit
