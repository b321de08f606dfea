// The questions a library index scan asks while it refreshes photo digests.
#pragma once

#include <cstdint>

namespace fotello {

// Called on the scanning thread, between photos.
class AlbumXMLScannerDelegate {
 public:
  virtual ~AlbumXMLScannerDelegate() = default;
  // Whether the scan should go on with the photo at index current of total (both counting the
  // photos still in the catalog); false stops it with "abort requested".
  virtual bool albumXMLScannerShouldContinueWithCurrent(uint64_t current, uint64_t total) = 0;
};

}  // namespace fotello
