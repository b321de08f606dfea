#include "tools/fotelloctl/ScanCommand.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "catalog/AlbumData.h"
#include "catalog/AlbumXMLScanner.h"

namespace fotello {

namespace {

// Draws "[#####.....]  50% 5/10" on standard error, redrawn only when the bar changes.
class ProgressBar final : public AlbumXMLScannerDelegate {
 public:
  bool albumXMLScannerShouldContinueWithCurrent(uint64_t current, uint64_t total) override {
    draw(current, total);
    return true;
  }

  void finish(uint64_t total) {
    draw(total, total);
    if (drawn_) std::fputc('\n', stderr);
  }

 private:
  static constexpr int kWidth = 40;

  void draw(uint64_t current, uint64_t total) {
    int percent = total == 0 ? 100 : static_cast<int>(current * 100 / total);
    if (drawn_ && percent == lastPercent_) return;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < percent * kWidth / 100 ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%% %llu/%llu", bar, percent, static_cast<unsigned long long>(current),
                 static_cast<unsigned long long>(total));
    std::fflush(stderr);
    drawn_ = true;
    lastPercent_ = percent;
  }

  bool drawn_ = false;
  int lastPercent_ = -1;
};

std::optional<std::string> absolutePath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

void ScanCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl scan LIBRARY [--sax]           catalog the photo library LIBRARY as the agent does\n"
               "                                            (--sax: the event parser instead of the whole-document one)\n");
}

int ScanCommand::run(const std::vector<std::string>& args) {
  std::optional<std::string> library;
  bool sax = false;
  for (const std::string& arg : args) {
    if (arg == "--sax" && !sax) sax = true;
    else if (!library && arg.rfind("--", 0) != 0) library = arg;
    else return printUsage(), 2;
  }
  if (!library) return printUsage(), 2;
  std::optional<std::string> path = absolutePath(*library);
  if (!path) {
    std::fprintf(stderr, "fotelloctl: no such library: %s\n", library->c_str());
    return 1;
  }

  loomkit::Error error;
  std::unique_ptr<AlbumData> previous = AlbumData::newFromCacheForIPhotoLibraryPath(*path, &error);
  if (!previous) {
    std::fprintf(stderr, "fotelloctl: the saved catalog is unreadable and is rebuilt: %s\n",
                 error.description().c_str());
  }
  ProgressBar progress;
  AlbumXMLScanner scanner(*path);
  scanner.setDelegate(&progress);
  std::unique_ptr<AlbumData> catalog = scanner.scan(previous.get(), sax, &error);
  if (!catalog) {
    std::fprintf(stderr, "fotelloctl: %s\n", error.description().c_str());
    return 1;
  }
  progress.finish(catalog->photoCount());
  std::printf("%s: %zu photos, %zu albums, %zu rolls in %s\n", path->c_str(), catalog->photoCount(),
              catalog->albumsByIPhotoId().size(), catalog->rollsByIPhotoId().size(),
              AlbumData::cachePathForIPhotoLibraryPath(*path).c_str());
  return 0;
}

}  // namespace fotello
