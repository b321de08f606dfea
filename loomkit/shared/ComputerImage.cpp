#include "loomkit/shared/ComputerImage.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace loomkit {

namespace {

struct Color {
  uint8_t r, g, b;
};

// A premultiplied RGBA bitmap, rows of kRowBytes bytes, top row first; fully transparent at start.
class Bitmap {
 public:
  Bitmap() : pixels_(ComputerImage::kRowBytes * ComputerImage::kHeight, 0) {}

  // Paints the pixels x0..x1, y0..y1 (inclusive) opaque.
  void fill(int x0, int y0, int x1, int y1, Color color) {
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) set(x, y, color);
    }
  }
  void clear(int x, int y) { std::memset(at(x, y), 0, 4); }
  void set(int x, int y, Color color) {
    uint8_t* p = at(x, y);
    p[0] = color.r, p[1] = color.g, p[2] = color.b, p[3] = 255;
  }
  uint8_t* row(int y) { return &pixels_[static_cast<size_t>(y) * ComputerImage::kRowBytes]; }

 private:
  uint8_t* at(int x, int y) { return row(y) + 4 * x; }
  Bytes pixels_;
};

Bitmap drawComputer() {
  Bitmap bitmap;
  // Monitor: a dark bezel with clipped corners around a screen shaded from light to deep blue.
  bitmap.fill(1, 1, 14, 10, {44, 44, 46});
  for (int x : {1, 14}) {
    for (int y : {1, 10}) bitmap.clear(x, y);
  }
  for (int y = 2; y <= 9; ++y) {
    int t = y - 2;
    bitmap.fill(2, y, 13, y, {static_cast<uint8_t>(90 - 10 * t), static_cast<uint8_t>(200 - 17 * t), 250});
  }
  bitmap.fill(3, 3, 5, 3, {235, 245, 255});  // a glint in the top-left corner of the glass
  bitmap.fill(3, 4, 3, 4, {235, 245, 255});
  // Stand: a neck and a two-tone foot.
  bitmap.fill(6, 11, 9, 12, {142, 142, 147});
  bitmap.fill(3, 13, 12, 13, {199, 199, 204});
  bitmap.fill(2, 14, 13, 14, {142, 142, 147});
  return bitmap;
}

// libtiff's client I/O over a growable byte buffer.
struct MemoryFile {
  Bytes bytes;
  uint64_t pos = 0;
};

tsize_t readMemory(thandle_t handle, tdata_t buffer, tsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  uint64_t available = file->pos < file->bytes.size() ? file->bytes.size() - file->pos : 0;
  size_t n = static_cast<size_t>(std::min<uint64_t>(available, static_cast<uint64_t>(size)));
  std::memcpy(buffer, file->bytes.data() + file->pos, n);
  file->pos += n;
  return static_cast<tsize_t>(n);
}

tsize_t writeMemory(thandle_t handle, tdata_t buffer, tsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  size_t n = static_cast<size_t>(size);
  if (file->pos + n > file->bytes.size()) file->bytes.resize(file->pos + n);
  std::memcpy(file->bytes.data() + file->pos, buffer, n);
  file->pos += n;
  return size;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (whence == SEEK_CUR) offset += file->pos;
  else if (whence == SEEK_END) offset += file->bytes.size();
  file->pos = offset;
  return offset;
}

int closeMemory(thandle_t) { return 0; }
toff_t sizeOfMemory(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int mapMemory(thandle_t, tdata_t*, toff_t*) { return 0; }
void unmapMemory(thandle_t, tdata_t, toff_t) {}

bool writeTiff(TIFF* tiff, Bitmap& bitmap) {
  uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, ComputerImage::kWidth) &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, ComputerImage::kHeight) &&
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4) &&
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) &&
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
            TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, ComputerImage::kHeight) &&
            TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 72.0) && TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 72.0) &&
            TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  for (int y = 0; ok && y < ComputerImage::kHeight; ++y) ok = TIFFWriteScanline(tiff, bitmap.row(y), y, 0) == 1;
  return ok;
}

}  // namespace

std::optional<Bytes> ComputerImage::tiffRepresentation(Error* error) {
  Bitmap bitmap = drawComputer();
  MemoryFile file;
  TIFF* tiff = TIFFClientOpen("computerIcon", "w", &file, readMemory, writeMemory, seekMemory, closeMemory,
                              sizeOfMemory, mapMemory, unmapMemory);
  bool ok = tiff && writeTiff(tiff, bitmap);
  if (tiff) ok = TIFFFlush(tiff) == 1 && ok;
  if (tiff) TIFFClose(tiff);
  if (!ok) {
    setError(error, kComputerImageErrorDomain, -1, "TIFF encoding failed");
    return std::nullopt;
  }
  return std::move(file.bytes);
}

}  // namespace loomkit
