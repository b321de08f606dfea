// Photo digest throughput over JPEG-shaped files, for bench/photo_digest_vs_openssl.sh.
//   PhotoDigestBench generate DIR COUNT BYTES   writes COUNT files photo-NNNN.jpg of BYTES each
//   PhotoDigestBench hash FILE...               prints the photo digest of each file
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "loomkit/crypto/SHA1Hash.h"

namespace {

void append16(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void appendSegment(std::vector<uint8_t>& out, unsigned marker, size_t contentLength, uint8_t fill) {
  append16(out, marker);
  append16(out, static_cast<unsigned>(contentLength + 2));
  out.insert(out.end(), contentLength, fill);
}

// A few KB of metadata and tables, then a start of scan and entropy-like data up to the end marker.
std::vector<uint8_t> jpegShapedFile(size_t size, uint64_t seed) {
  std::vector<uint8_t> out;
  append16(out, 0xFFD8);
  appendSegment(out, 0xFFE0, 14, 0x4A);
  appendSegment(out, 0xFFE1, 4000, static_cast<uint8_t>(seed));
  appendSegment(out, 0xFFDB, 130, 0x10);
  appendSegment(out, 0xFFC0, 15, 0x08);
  appendSegment(out, 0xFFC4, 416, 0x20);
  appendSegment(out, 0xFFDA, 10, 0x01);
  size_t header = out.size();
  out.resize(size > header + 2 ? size - 2 : header);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = header; i + 8 <= out.size(); i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(&out[i], &x, 8);
  }
  append16(out, 0xFFD9);
  return out;
}

int generate(const char* dir, long count, long size) {
  for (long i = 0; i < count; ++i) {
    std::vector<uint8_t> bytes = jpegShapedFile(static_cast<size_t>(size), static_cast<uint64_t>(i));
    char path[4096];
    std::snprintf(path, sizeof path, "%s/photo-%04ld.jpg", dir, i);
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      std::perror(path);
      return 1;
    }
    ::close(fd);
  }
  return 0;
}

int hash(int count, char** paths) {
  for (int i = 0; i < count; ++i) {
    loomkit::Error error;
    std::optional<std::string> digest = loomkit::SHA1Hash::hashPhoto(paths[i], &error);
    if (!digest) {
      std::fprintf(stderr, "%s: %s\n", paths[i], error.text().c_str());
      return 1;
    }
    std::printf("%s  %s\n", digest->c_str(), paths[i]);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "generate") == 0) return generate(argv[2], std::atol(argv[3]), std::atol(argv[4]));
  if (argc >= 3 && std::strcmp(argv[1], "hash") == 0) return hash(argc - 2, argv + 2);
  std::fprintf(stderr, "usage: %s generate DIR COUNT BYTES | hash FILE...\n", argv[0]);
  return 2;
}
