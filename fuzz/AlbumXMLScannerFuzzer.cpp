// A library index of arbitrary bytes through both readers of the index scanner (the event parser
// and the whole-document reader). The scan stops at its first question, so no file an input names
// is ever read, and the data directory cannot be written, so catalogs fail to save at once.
// Whatever the whole-document reader accepts, the event parser must parse too.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalog/AlbumXMLScanner.h"
#include "loomkit/shared/Log.h"

namespace {

class StopAtOnce final : public fotello::AlbumXMLScannerDelegate {
 public:
  bool albumXMLScannerShouldContinueWithCurrent(uint64_t, uint64_t) override { return false; }
};

std::string library;

// Whether the scan got past parsing: a catalog, or the abort at the first question.
bool parsed(bool sax) {
  StopAtOnce stop;
  fotello::AlbumXMLScanner scanner(library);
  scanner.setDelegate(&stop);
  loomkit::Error error;
  std::unique_ptr<fotello::AlbumData> catalog = scanner.scan(nullptr, sax, &error);
  return catalog || error.is(fotello::kAlbumSetErrorDomain, -7);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  loomkit::Log::setLevel(loomkit::Log::kNone);
  char dir[] = "/dev/shm/album-xml-fuzz-XXXXXX";
  if (!::mkdtemp(dir)) std::abort();
  library = dir;
  ::setenv("FOTELLO_HOME", "/dev/null/fotello", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen((library + "/AlbumData.xml").c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  bool sax = parsed(true);
  bool document = parsed(false);
  if (document && !sax) std::abort();
  return 0;
}
