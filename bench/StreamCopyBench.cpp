// Copies one file with the stream copy loop and prints the seconds it took, for
// bench/copy_vs_cp.sh to compare with cp in the same run.
//
//   StreamCopyBench copy   SRC DST   FileInputStream -> FileOutputStream, unthrottled
//   StreamCopyBench atomic SRC DST   FileInputStream -> atomic replacement of DST, unthrottled
//   StreamCopyBench paced  SRC DST   the copy in 8 KiB steps, as when a throttle mode is set
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "loomkit/io/FileInputStream.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/Streams.h"

using loomkit::Streams;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s copy|atomic|paced SRC DST\n", argv[0]);
    return 2;
  }
  std::string mode = argv[1];
  if (mode == "paced") {
    Streams::setThrottleType(Streams::kThrottleFixedRate);
    Streams::setThrottleKBPS(INT_MAX);
  } else {
    Streams::setThrottleType(Streams::kThrottleNone);
  }
  auto start = std::chrono::steady_clock::now();
  loomkit::FileInputStream in(argv[2]);
  loomkit::Error error;
  uint64_t bytes = 0;
  bool ok;
  if (mode == "atomic") {
    ok = Streams::transferFrom(in, argv[3], bytes, &error);
  } else {
    loomkit::FileOutputStream out(argv[3]);
    ok = Streams::transferFrom(in, out, bytes, &error);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "copy failed: %s\n", error.text().c_str());
    return 1;
  }
  std::printf("%.4f %llu\n", seconds, static_cast<unsigned long long>(bytes));
  return 0;
}
