#include "tools/photolib/PhotoFile.h"

#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "loomkit/shared/Format.h"
#include "tools/photolib/LibraryIndex.h"

namespace fotello {

namespace {

using loomkit::strprintf;

struct Extension {
  const char* name;
  PhotoFile::Kind kind;
  const char* imageType;
};

constexpr Extension kExtensions[] = {
    {"jpg", PhotoFile::Kind::kJPEG, "JPEG"},         {"jpeg", PhotoFile::Kind::kJPEG, "JPEG"},
    {"jpe", PhotoFile::Kind::kJPEG, "JPEG"},         {"png", PhotoFile::Kind::kPNG, "PNG"},
    {"gif", PhotoFile::Kind::kOtherImage, "GIF"},    {"tif", PhotoFile::Kind::kOtherImage, "TIFF"},
    {"tiff", PhotoFile::Kind::kOtherImage, "TIFF"},  {"bmp", PhotoFile::Kind::kOtherImage, "BMP"},
    {"heic", PhotoFile::Kind::kOtherImage, "HEIC"},  {"heif", PhotoFile::Kind::kOtherImage, "HEIC"},
    {"webp", PhotoFile::Kind::kOtherImage, "WEBP"},  {"dng", PhotoFile::Kind::kOtherImage, "RAW"},
    {"cr2", PhotoFile::Kind::kOtherImage, "RAW"},    {"nef", PhotoFile::Kind::kOtherImage, "RAW"},
    {"arw", PhotoFile::Kind::kOtherImage, "RAW"},    {"orf", PhotoFile::Kind::kOtherImage, "RAW"},
    {"mov", PhotoFile::Kind::kMovie, "MOVIE"},       {"mp4", PhotoFile::Kind::kMovie, "MOVIE"},
    {"m4v", PhotoFile::Kind::kMovie, "MOVIE"},       {"avi", PhotoFile::Kind::kMovie, "MOVIE"},
    {"3gp", PhotoFile::Kind::kMovie, "MOVIE"},       {"mts", PhotoFile::Kind::kMovie, "MOVIE"},
};

const Extension* extensionOf(std::string_view path) {
  size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return nullptr;
  std::string ext(name.substr(dot + 1));
  for (const Extension& e : kExtensions) {
    if (::strcasecmp(ext.c_str(), e.name) == 0) return &e;
  }
  return nullptr;
}

bool fail(loomkit::Error* error, std::string description) {
  return loomkit::setError(error, kPhotolibErrorDomain, -1, std::move(description));
}

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// the setjmp of the function that runs the codec. Those functions keep only plain data alive
// across the jump.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr codec) {
  auto* errors = reinterpret_cast<JpegErrors*>(codec->err);
  (*codec->err->format_message)(codec, errors->message);
  std::longjmp(errors->jump, 1);
}

void jpegQuiet(j_common_ptr) {}  // corrupt-data warnings: the decoder goes on with what it has

void installErrors(JpegErrors& errors) {
  jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegErrorExit;
  errors.manager.output_message = jpegQuiet;
  errors.message[0] = '\0';
}

// The JPEG's size; false with libjpeg's message.
bool jpegSize(std::FILE* file, int* width, int* height, char* message) {
  jpeg_decompress_struct codec = {};
  JpegErrors errors;
  codec.err = &errors.manager;
  installErrors(errors);
  if (setjmp(errors.jump)) {
    std::strcpy(message, errors.message);
    jpeg_destroy_decompress(&codec);
    return false;
  }
  jpeg_create_decompress(&codec);
  jpeg_stdio_src(&codec, file);
  jpeg_read_header(&codec, TRUE);
  *width = static_cast<int>(codec.image_width);
  *height = static_cast<int>(codec.image_height);
  jpeg_destroy_decompress(&codec);
  return true;
}

// EXIF DateTimeOriginal ("YYYY:MM:DD HH:MM:SS", the camera's local time) in seconds since 2001.
std::optional<double> exifDateTaken(const std::string& path) {
  ExifData* data = exif_data_new_from_file(path.c_str());
  if (!data) return std::nullopt;
  std::optional<double> date;
  if (ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL)) {
    char text[64] = {};
    exif_entry_get_value(entry, text, sizeof text);
    struct tm tm = {};
    if (std::sscanf(text, "%4d:%2d:%2d %2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                    &tm.tm_sec) == 6 &&
        tm.tm_year >= 1900 && tm.tm_mon >= 1 && tm.tm_mon <= 12 && tm.tm_mday >= 1 && tm.tm_mday <= 31) {
      tm.tm_year -= 1900;
      tm.tm_mon -= 1;
      tm.tm_isdst = -1;
      time_t t = std::mktime(&tm);
      if (t != static_cast<time_t>(-1)) date = static_cast<double>(t) - LibraryIndex::kReferenceDateSince1970;
    }
  }
  exif_data_unref(data);
  return date;
}

bool pngSize(std::FILE* file, int* width, int* height) {
  unsigned char header[24];
  static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (std::fread(header, 1, sizeof header, file) != sizeof header) return false;
  if (std::memcmp(header, kSignature, sizeof kSignature) != 0 || std::memcmp(header + 12, "IHDR", 4) != 0) {
    return false;
  }
  auto be32 = [&](int at) {
    return (uint32_t{header[at]} << 24) | (uint32_t{header[at + 1]} << 16) | (uint32_t{header[at + 2]} << 8) |
           header[at + 3];
  };
  uint32_t w = be32(16), h = be32(20);
  if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

// Averages the decoder's rows into the encoder's, one output row at a time: input row y belongs
// to output row y * outHeight / inHeight, input column x to x * outWidth / inWidth. The buffers
// come from the decoder's memory pool, so an error jump leaks nothing.
struct BoxFilter {
  JDIMENSION inWidth, inHeight, outWidth, outHeight;
  int components;         // 3 (RGB) or 1 (gray)
  JSAMPLE* outRow;
  JDIMENSION* columnOf;   // output column of each input column
  uint32_t* columnCount;  // input columns per output column
  uint32_t* sums;         // outWidth * components running sums
  JDIMENSION currentRow;  // output row being summed
  uint32_t rowsSummed;
};

void addRow(BoxFilter& f, const JSAMPLE* row) {
  for (JDIMENSION x = 0; x < f.inWidth; ++x) {
    uint32_t* sum = f.sums + f.components * f.columnOf[x];
    for (int c = 0; c < f.components; ++c) sum[c] += row[f.components * x + c];
  }
  ++f.rowsSummed;
}

void emitRow(BoxFilter& f, jpeg_compress_struct& encoder) {
  const size_t values = size_t{f.outWidth} * f.components;
  for (size_t i = 0; i < values; ++i) {
    uint32_t n = f.columnCount[i / f.components] * f.rowsSummed;
    f.outRow[i] = static_cast<JSAMPLE>((f.sums[i] + n / 2) / n);
  }
  JSAMPROW rows[] = {f.outRow};
  jpeg_write_scanlines(&encoder, rows, 1);
  std::memset(f.sums, 0, sizeof(uint32_t) * values);
  f.rowsSummed = 0;
}

// CMYK as JPEG stores it (inverted when an Adobe marker says so) to RGB, in place.
void cmykToRGB(JSAMPLE* row, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x) {
    unsigned c = row[4 * x], m = row[4 * x + 1], y = row[4 * x + 2], k = row[4 * x + 3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    row[3 * x] = static_cast<JSAMPLE>(c * k / 255);
    row[3 * x + 1] = static_cast<JSAMPLE>(m * k / 255);
    row[3 * x + 2] = static_cast<JSAMPLE>(y * k / 255);
  }
}

void rgbToGray(JSAMPLE* row, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x) {
    row[x] = static_cast<JSAMPLE>((299 * row[3 * x] + 587 * row[3 * x + 1] + 114 * row[3 * x + 2] + 500) / 1000);
  }
}

// Picks the smallest scale M/8 whose output still covers maxSide (full size for small images).
void chooseScale(jpeg_decompress_struct& decoder, JDIMENSION maxSide) {
  for (unsigned m = 1; m <= 8; ++m) {
    decoder.scale_num = m;
    decoder.scale_denom = 8;
    jpeg_calc_output_dimensions(&decoder);
    if (std::max(decoder.output_width, decoder.output_height) >= maxSide || m == 8) return;
  }
}

// Decodes the JPEG from in and encodes it to out, within maxSide pixels per side (0: full size),
// in gray when asked. False with libjpeg's message.
bool transcode(std::FILE* in, std::FILE* out, int maxSide, bool gray, char* message) {
  jpeg_decompress_struct decoder = {};  // zeroed, so destroying one never created is harmless
  jpeg_compress_struct encoder = {};
  JpegErrors errors;  // shared: the two codecs run on this thread, one call at a time
  decoder.err = &errors.manager;
  encoder.err = &errors.manager;
  installErrors(errors);
  if (setjmp(errors.jump)) {
    std::strcpy(message, errors.message);
    jpeg_destroy_compress(&encoder);
    jpeg_destroy_decompress(&decoder);
    return false;
  }
  jpeg_create_decompress(&decoder);
  jpeg_create_compress(&encoder);
  jpeg_stdio_src(&decoder, in);
  jpeg_read_header(&decoder, TRUE);
  // libjpeg turns YCbCr into RGB or gray itself, but not CMYK; that conversion is done here.
  bool cmyk = decoder.jpeg_color_space == JCS_CMYK || decoder.jpeg_color_space == JCS_YCCK;
  decoder.out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_RGB;
  if (maxSide > 0) chooseScale(decoder, static_cast<JDIMENSION>(maxSide));
  jpeg_start_decompress(&decoder);

  BoxFilter f = {};
  f.components = gray ? 1 : 3;
  f.inWidth = decoder.output_width;
  f.inHeight = decoder.output_height;
  JDIMENSION longSide = std::max(f.inWidth, f.inHeight);
  auto scaled = [&](JDIMENSION side) {
    if (maxSide <= 0 || longSide <= static_cast<JDIMENSION>(maxSide)) return side;
    return std::max<JDIMENSION>(1, static_cast<JDIMENSION>(uint64_t{side} * maxSide / longSide));
  };
  f.outWidth = scaled(f.inWidth);
  f.outHeight = scaled(f.inHeight);
  auto alloc = [&](size_t bytes) {
    return (*decoder.mem->alloc_large)(reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE, bytes);
  };
  auto* inRow = static_cast<JSAMPLE*>(alloc(size_t{f.inWidth} * 4));
  f.outRow = static_cast<JSAMPLE*>(alloc(size_t{f.outWidth} * f.components));
  f.columnOf = static_cast<JDIMENSION*>(alloc(sizeof(JDIMENSION) * f.inWidth));
  f.columnCount = static_cast<uint32_t*>(alloc(sizeof(uint32_t) * f.outWidth));
  f.sums = static_cast<uint32_t*>(alloc(sizeof(uint32_t) * f.components * f.outWidth));
  std::memset(f.columnCount, 0, sizeof(uint32_t) * f.outWidth);
  std::memset(f.sums, 0, sizeof(uint32_t) * f.components * f.outWidth);
  for (JDIMENSION x = 0; x < f.inWidth; ++x) {
    f.columnOf[x] = static_cast<JDIMENSION>(uint64_t{x} * f.outWidth / f.inWidth);
    ++f.columnCount[f.columnOf[x]];
  }

  jpeg_stdio_dest(&encoder, out);
  encoder.image_width = f.outWidth;
  encoder.image_height = f.outHeight;
  encoder.input_components = f.components;
  encoder.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&encoder);
  jpeg_set_quality(&encoder, 85, TRUE);
  jpeg_start_compress(&encoder, TRUE);

  while (decoder.output_scanline < decoder.output_height) {
    JDIMENSION y = decoder.output_scanline;
    JSAMPROW rows[] = {inRow};
    jpeg_read_scanlines(&decoder, rows, 1);
    if (cmyk) cmykToRGB(inRow, f.inWidth, decoder.saw_Adobe_marker);
    if (cmyk && gray) rgbToGray(inRow, f.inWidth);
    auto row = static_cast<JDIMENSION>(uint64_t{y} * f.outHeight / f.inHeight);
    if (row != f.currentRow && f.rowsSummed > 0) emitRow(f, encoder);
    f.currentRow = row;
    addRow(f, inRow);
  }
  if (f.rowsSummed > 0) emitRow(f, encoder);
  jpeg_finish_compress(&encoder);
  jpeg_finish_decompress(&decoder);
  jpeg_destroy_compress(&encoder);
  jpeg_destroy_decompress(&decoder);
  return true;
}

// Transcodes source into the new file dest; on failure dest is removed.
bool transcodeFile(const std::string& source, const std::string& dest, int maxSide, bool gray, const char* what,
                   loomkit::Error* error) {
  std::FILE* in = std::fopen(source.c_str(), "rbe");
  if (!in) {
    return fail(error, strprintf("cannot make %s of %s: %s", what, source.c_str(), loomkit::systemErrorText(errno).c_str()));
  }
  std::FILE* out = std::fopen(dest.c_str(), "wbxe");
  if (!out) {
    int e = errno;
    std::fclose(in);
    return fail(error, strprintf("cannot make %s of %s: %s: %s", what, source.c_str(), dest.c_str(),
                                 loomkit::systemErrorText(e).c_str()));
  }
  char message[JMSG_LENGTH_MAX] = {};
  bool ok = transcode(in, out, maxSide, gray, message);
  std::fclose(in);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    std::snprintf(message, sizeof message, "%s", loomkit::systemErrorText(errno).c_str());
  }
  if (!ok) {
    std::remove(dest.c_str());
    return fail(error, strprintf("cannot make %s of %s: %s", what, source.c_str(), message));
  }
  return true;
}

}  // namespace

PhotoFile::Kind PhotoFile::kindForPath(std::string_view path) {
  const Extension* e = extensionOf(path);
  return e ? e->kind : Kind::kNone;
}

std::string PhotoFile::imageTypeForPath(std::string_view path) {
  const Extension* e = extensionOf(path);
  return e ? e->imageType : "";
}

std::optional<PhotoFile::Info> PhotoFile::examine(const std::string& path, loomkit::Error* error) {
  Info info;
  info.kind = kindForPath(path);
  std::FILE* file = std::fopen(path.c_str(), "rbe");
  if (!file) {
    fail(error, strprintf("cannot read %s: %s", path.c_str(), loomkit::systemErrorText(errno).c_str()));
    return std::nullopt;
  }
  bool ok = true;
  char message[JMSG_LENGTH_MAX] = {};
  if (info.kind == Kind::kJPEG) {
    ok = jpegSize(file, &info.width, &info.height, message);
    if (!ok) fail(error, strprintf("%s is not a JPEG image: %s", path.c_str(), message));
  } else if (info.kind == Kind::kPNG) {
    ok = pngSize(file, &info.width, &info.height);
    if (!ok) fail(error, strprintf("%s is not a PNG image", path.c_str()));
  } else {
    char byte;
    if (std::fread(&byte, 1, 1, file) != 1 && std::ferror(file)) {
      ok = fail(error, strprintf("cannot read %s: %s", path.c_str(), loomkit::systemErrorText(errno).c_str()));
    }
  }
  std::fclose(file);
  if (!ok) return std::nullopt;
  if (info.kind == Kind::kJPEG) info.dateTaken = exifDateTaken(path);
  return info;
}

bool PhotoFile::writeThumbnail(const std::string& source, const std::string& dest, int maxSide,
                               loomkit::Error* error) {
  return transcodeFile(source, dest, maxSide, false, "a thumbnail", error);
}

bool PhotoFile::writeBlackAndWhiteCopy(const std::string& source, const std::string& dest, loomkit::Error* error) {
  return transcodeFile(source, dest, 0, true, "a black and white copy", error);
}

}  // namespace fotello
