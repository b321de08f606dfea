// The catalog store at library scale: 100,000 photos (15% edited) with realistic paths, 1,000
// rolls and two albums of 50,000 keys each. Times building the catalog, saving it, loading it
// and its digest, then measures the peak resident memory of a fresh process that only loads it.
//   CatalogBench [benchmark options]   runs the four benchmarks and the memory measurement
//   CatalogBench --rss FILE            loads FILE and prints its resident memory figures
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalog/AlbumData.h"
#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Format.h"

using fotello::Album;
using fotello::AlbumData;
using fotello::Photo;
using fotello::Roll;
using loomkit::strprintf;

namespace {

constexpr int kPhotos = 100000;
constexpr int kRolls = 1000;
constexpr int kAlbumKeys = 50000;
const std::string kLibrary = "/Users/ann/Pictures/iPhoto Library";

std::string fakeDigest(uint64_t seed) {
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x1234567;
  std::string text;
  for (int i = 0; i < 5; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    text += strprintf("%08x", static_cast<unsigned>(x));
  }
  return text;
}

// One photo as the catalog file holds it, with the digests and file status a scan leaves.
void appendPhotoRecord(int i, loomkit::Bytes& b) {
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  const int roll = i / (kPhotos / kRolls) + 1;
  const int year = 2004 + roll % 8;
  const std::string name = strprintf("IMG_%04d.JPG", i % 10000);
  const std::string folder = strprintf("%d/%02d/%02d/Roll %d/", year, roll % 12 + 1, roll % 28 + 1, roll);
  const bool edited = i % 7 == 0;
  StringIO::write(fakeDigest(2 * static_cast<uint64_t>(i)), b);
  StringIO::write(edited ? std::optional<std::string>(fakeDigest(2 * static_cast<uint64_t>(i) + 1)) : std::nullopt, b);
  StringIO::write(std::to_string(i + 1), b);
  StringIO::write(kLibrary + (edited ? "/Modified/" : "/Originals/") + folder + name, b);
  StringIO::write(edited ? std::optional<std::string>(kLibrary + "/Originals/" + folder + name) : std::nullopt, b);
  StringIO::write(kLibrary + "/Data/" + folder + strprintf("IMG_%04d.jpg", i % 10000), b);
  StringIO::write(std::string_view(i % 3 ? "1.333333" : "0.750000"), b);
  StringIO::write(i % 5 ? std::optional<std::string>() : std::optional<std::string>("Beach day " + std::to_string(i)), b);
  StringIO::write(std::string_view("JPEG"), b);
  for (int which = 0; which < 2; ++which) {
    const bool present = which == 0 || edited;
    IntegerIO::writeUInt64(present ? 2000000 + static_cast<uint64_t>(i) * 37 : 0, b);
    IntegerIO::writeInt64(present ? 1200000000 + i * 60 : 0, b);
    IntegerIO::writeInt64(present ? (i * 7919) % 1000000000 : 0, b);
  }
  StringIO::write(strprintf("%f", 120000000.0 + i * 3600.5), b);
  IntegerIO::writeUInt64(static_cast<uint64_t>(roll), b);
}

struct Inputs {
  std::vector<Photo> photos;
  std::vector<Album> albums;
  std::vector<Roll> rolls;
};

const Inputs& inputs() {
  static const Inputs made = [] {
    Inputs in;
    loomkit::Bytes records;
    for (int i = 0; i < kPhotos; ++i) appendPhotoRecord(i, records);
    loomkit::BufferedInputStream stream(std::make_unique<loomkit::DataInputStream>(std::move(records)));
    in.photos.reserve(kPhotos);
    for (int i = 0; i < kPhotos; ++i) in.photos.push_back(*Photo::initFromStream(stream));
    for (int a = 0; a < 2; ++a) {
      Album album;
      album.setString(a == 0 ? "Family" : "Holidays 2009", "AlbumName");
      album.setInteger(a + 1, "AlbumId");
      for (int k = 0; k < kAlbumKeys; ++k) album.addPhotoKey(std::to_string(a == 0 ? 2 * k + 1 : k + 1));
      in.albums.push_back(std::move(album));
    }
    for (int r = 1; r <= kRolls; ++r) {
      loomkit::DictNode dict;
      dict.putInt(r, "RollID");
      dict.putString("Roll " + std::to_string(r), "RollName");
      dict.putDouble(120000000.0 + r * 86400.0, "RollDateAsTimerInterval");
      dict.putInt((r - 1) * (kPhotos / kRolls) + 1, "KeyPhotoKey");
      dict.putInt(kPhotos / kRolls, "PhotoCount");
      in.rolls.emplace_back(dict);
    }
    return in;
  }();
  return made;
}

std::unique_ptr<AlbumData> build() {
  const Inputs& in = inputs();
  return std::make_unique<AlbumData>(kLibrary, in.photos, in.albums, in.rolls, 300000000.0);
}

std::string homeDirectory() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/catalog-bench.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) std::abort();
    ::setenv("FOTELLO_HOME", made, 1);
    return std::string(made);
  }();
  return dir;
}

void BM_Build(benchmark::State& state) {
  const Inputs& in = inputs();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Photo> photos = in.photos;
    std::vector<Album> albums = in.albums;
    std::vector<Roll> rolls = in.rolls;
    state.ResumeTiming();
    auto catalog = std::make_unique<AlbumData>(kLibrary, std::move(photos), std::move(albums), std::move(rolls), 1.0);
    benchmark::DoNotOptimize(catalog.get());
    state.PauseTiming();
    catalog.reset();
    state.ResumeTiming();
  }
}

void BM_Save(benchmark::State& state) {
  homeDirectory();
  std::unique_ptr<AlbumData> catalog = build();
  for (auto _ : state) {
    loomkit::Error error;
    if (!catalog->save(&error)) state.SkipWithError(error.text().c_str());
  }
}

void BM_Load(benchmark::State& state) {
  homeDirectory();
  build()->save();
  for (auto _ : state) {
    loomkit::Error error;
    std::unique_ptr<AlbumData> catalog = AlbumData::newFromCacheForIPhotoLibraryPath(kLibrary, &error);
    if (!catalog || catalog->photoCount() != kPhotos) state.SkipWithError("load failed");
    state.PauseTiming();
    catalog.reset();
    state.ResumeTiming();
  }
}

void BM_Digest(benchmark::State& state) {
  homeDirectory();
  build()->save();
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<AlbumData> catalog = AlbumData::newFromCacheForIPhotoLibraryPath(kLibrary);
    state.ResumeTiming();
    benchmark::DoNotOptimize(catalog->sha1()->data());
    state.PauseTiming();
    catalog.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Digest)->Unit(benchmark::kMillisecond)->Iterations(5);

// A "Vm...:" figure of /proc/self/status in MB.
double statusMegabytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field)) / 1024.0;
  }
  return -1;
}

int measureLoad(const char* path) {
  const double before = statusMegabytes("VmHWM:");
  loomkit::Error error;
  std::unique_ptr<AlbumData> catalog = AlbumData::newFromCacheFile(path, kLibrary, &error);
  if (!catalog) {
    std::fprintf(stderr, "%s: %s\n", path, error.text().c_str());
    return 1;
  }
  std::printf("loaded %s: peak RSS %.1f MB (%.1f MB before loading), RSS now %.1f MB\n", catalog->description().c_str(),
              statusMegabytes("VmHWM:"), before, statusMegabytes("VmRSS:"));
  return 0;
}

// Runs this program again as "--rss FILE", so that no memory of the benchmarks counts.
void reportLoadedMemory(const char* self) {
  homeDirectory();
  build()->save();
  const std::string file = AlbumData::cachePathForIPhotoLibraryPath(kLibrary);
  std::ifstream size(file, std::ios::ate | std::ios::binary);
  std::printf("catalog file: %.1f MB\n", static_cast<double>(size.tellg()) / (1024.0 * 1024.0));
  std::fflush(stdout);
  pid_t child = ::fork();
  if (child == 0) {
    ::execl(self, self, "--rss", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--rss") == 0) return measureLoad(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  reportLoadedMemory("/proc/self/exe");
  std::string cleanup = "rm -rf '" + homeDirectory() + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
