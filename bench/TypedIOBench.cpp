// Encoding and decoding of the typed binary form: 1,000,000 strings of 80 bytes, the shape of a
// large catalog's text fields.
#include <benchmark/benchmark.h>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/StringIO.h"

namespace {

constexpr int kStrings = 1'000'000;
constexpr size_t kLength = 80;
constexpr size_t kEncodedLength = 1 + 8 + kLength;

const std::vector<std::string>& strings() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> v;
    v.reserve(kStrings);
    for (int i = 0; i < kStrings; ++i) {
      std::string s(kLength, 'a' + i % 26);
      s.replace(0, std::to_string(i).size(), std::to_string(i));
      v.push_back(std::move(s));
    }
    return v;
  }();
  return all;
}

void report(benchmark::State& state) {
  double bytes = static_cast<double>(state.iterations()) * kStrings * kEncodedLength;
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

// Both encoders write into one buffer that keeps its memory between iterations, so the figures
// are the encoder's and not the kernel's first touch of fresh pages.
void EncodeStringsToBuffer(benchmark::State& state) {
  const auto& input = strings();
  loomkit::Bytes out;
  out.reserve(kStrings * kEncodedLength);
  for (auto _ : state) {
    out.clear();
    for (const auto& s : input) loomkit::StringIO::write(s, out);
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

void EncodeStringsToStream(benchmark::State& state) {
  const auto& input = strings();
  auto data = std::make_shared<loomkit::Bytes>();
  data->reserve(kStrings * kEncodedLength);
  for (auto _ : state) {
    data->clear();
    loomkit::BufferedOutputStream out(std::make_unique<loomkit::DataOutputStream>(data));
    for (const auto& s : input) {
      if (!loomkit::StringIO::write(s, out)) state.SkipWithError("write failed");
    }
    if (!out.flush()) state.SkipWithError("flush failed");
    benchmark::DoNotOptimize(data->data());
  }
  report(state);
}

void DecodeStrings(benchmark::State& state) {
  auto encoded = std::make_shared<loomkit::Bytes>();
  for (const auto& s : strings()) loomkit::StringIO::write(s, *encoded);
  std::shared_ptr<const loomkit::Bytes> shared = encoded;
  for (auto _ : state) {
    loomkit::BufferedInputStream in(std::make_unique<loomkit::DataInputStream>(shared));
    std::optional<std::string> value;
    size_t total = 0;
    for (int i = 0; i < kStrings; ++i) {
      if (!loomkit::StringIO::read(value, in)) state.SkipWithError("read failed");
      total += value->size();
    }
    benchmark::DoNotOptimize(total);
  }
  report(state);
}

}  // namespace

BENCHMARK(EncodeStringsToBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeStringsToStream)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeStrings)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
