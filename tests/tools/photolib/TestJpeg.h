// JPEG fixtures for the photolib tests, made and examined with libjpeg.
#pragma once

#include <jpeglib.h>

#include <cstdio>
#include <optional>
#include <string>

namespace fotello::test {

// The EXIF block of an APP1 segment holding only DateTimeOriginal ("YYYY:MM:DD HH:MM:SS"): a
// little-endian TIFF header, IFD0 with the pointer to the EXIF IFD, and the EXIF IFD.
inline std::string exifWithDateTimeOriginal(const std::string& date) {
  auto u16 = [](std::string& s, unsigned v) { s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8); };
  auto u32 = [&](std::string& s, unsigned v) { u16(s, v & 0xFFFF), u16(s, v >> 16); };
  std::string e("Exif\0\0II*\0", 10);
  u32(e, 8);                        // IFD0 at offset 8
  u16(e, 1);                        // one entry:
  u16(e, 0x8769), u16(e, 4), u32(e, 1), u32(e, 26);  // EXIF IFD pointer
  u32(e, 0);                        // no next IFD
  u16(e, 1);                        // EXIF IFD at 26, one entry:
  u16(e, 0x9003), u16(e, 2), u32(e, 20), u32(e, 44);  // DateTimeOriginal, 20 ASCII bytes at 44
  u32(e, 0);
  e += date;
  e += '\0';
  return e;
}

// A width x height RGB gradient as a JPEG file, with an EXIF date when given.
inline std::string jpegFile(int width, int height, std::optional<std::string> exifDate = std::nullopt) {
  jpeg_compress_struct codec;
  jpeg_error_mgr errors;
  codec.err = jpeg_std_error(&errors);
  jpeg_create_compress(&codec);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&codec, &buffer, &size);
  codec.image_width = static_cast<JDIMENSION>(width);
  codec.image_height = static_cast<JDIMENSION>(height);
  codec.input_components = 3;
  codec.in_color_space = JCS_RGB;
  jpeg_set_defaults(&codec);
  jpeg_start_compress(&codec, TRUE);
  if (exifDate) {
    std::string exif = exifWithDateTimeOriginal(*exifDate);
    jpeg_write_marker(&codec, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.data()),
                      static_cast<unsigned>(exif.size()));
  }
  std::string row(static_cast<size_t>(width) * 3, '\0');
  while (codec.next_scanline < codec.image_height) {
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<char>(x * 255 / width);
      row[3 * x + 1] = static_cast<char>(codec.next_scanline * 255 / codec.image_height);
      row[3 * x + 2] = static_cast<char>(128);
    }
    JSAMPROW rows[] = {reinterpret_cast<JSAMPLE*>(row.data())};
    jpeg_write_scanlines(&codec, rows, 1);
  }
  jpeg_finish_compress(&codec);
  std::string file(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&codec);
  std::free(buffer);
  return file;
}

struct JpegShape {
  int width = 0;
  int height = 0;
  int components = 0;
  bool operator==(const JpegShape&) const = default;
};

// The size and number of color components of a JPEG file.
inline JpegShape jpegShape(const std::string& path) {
  JpegShape shape;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return shape;
  jpeg_decompress_struct codec;
  jpeg_error_mgr errors;
  codec.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&codec);
  jpeg_stdio_src(&codec, file);
  jpeg_read_header(&codec, TRUE);
  shape = {static_cast<int>(codec.image_width), static_cast<int>(codec.image_height), codec.num_components};
  jpeg_destroy_decompress(&codec);
  std::fclose(file);
  return shape;
}

}  // namespace fotello::test
