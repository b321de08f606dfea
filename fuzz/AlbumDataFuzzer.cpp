// Catalog loading from arbitrary bytes, as a peer's "/albumdata" body or a damaged file would give
// them. A catalog that loads must serialise to bytes that load to the same bytes again, carry the
// digest of those bytes, and list every photo under its digests in key-number order.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "catalog/AlbumData.h"
#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/shared/Log.h"

namespace {

using fotello::AlbumData;
using fotello::Photo;

loomkit::Bytes serialised(const AlbumData& catalog) {
  auto data = std::make_shared<loomkit::Bytes>();
  loomkit::BufferedOutputStream out(std::make_unique<loomkit::DataOutputStream>(data));
  if (!catalog.writeToStream(out) || !out.flush()) std::abort();
  return *data;
}

void check(bool condition) {
  if (!condition) std::abort();
}

void checkIndexed(const AlbumData& catalog) {
  for (const Photo& photo : catalog.allPhotos()) {
    for (auto sha1 : {photo.originalSHA1(), photo.modifiedSHA1()}) {
      if (!sha1) continue;
      const AlbumData::PhotoList& list = catalog.allPhotosForSHA1(*sha1);
      bool found = false;
      for (size_t i = 0; i < list.size(); ++i) {
        found = found || list[i] == &photo;
        check(i == 0 || list[i - 1]->compareByIPhotoKey(*list[i]) <= 0);
      }
      check(found);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  loomkit::Log::setLevel(loomkit::Log::kNone);
  auto bytes = std::make_shared<const loomkit::Bytes>(data, data + size);
  std::unique_ptr<AlbumData> catalog = AlbumData::newFromData(bytes);

  // The same bytes through a stream of unknown length load to the same catalog, or fail alike.
  loomkit::BufferedInputStream in(std::make_unique<loomkit::DataInputStream>(bytes));
  std::unique_ptr<AlbumData> blind = AlbumData::loadFromStream(in, AlbumData::kUnknownLength, std::nullopt);
  check(!catalog == !blind);
  if (!catalog) return 0;

  checkIndexed(*catalog);
  const loomkit::Bytes once = serialised(*catalog);
  check(serialised(*blind) == once);
  if (catalog->scanDate()) check(catalog->sha1() == loomkit::SHA1Hash::hashData(once));
  else check(!catalog->sha1());

  std::unique_ptr<AlbumData> again = AlbumData::newFromData(std::make_shared<const loomkit::Bytes>(once));
  check(again != nullptr);
  check(again->photoCount() == catalog->photoCount());
  check(serialised(*again) == once);
  return 0;
}
