// The generic computer picture that represents this computer to its peers, drawn in code.
#pragma once

#include <optional>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

inline constexpr const char* kComputerImageErrorDomain = "ComputerImageErrorDomain";

// Stateless; safe from any thread.
class ComputerImage {
 public:
  static constexpr int kWidth = 16;
  static constexpr int kHeight = 16;
  // Bytes per bitmap row: 4 per pixel, rounded up to a multiple of 16.
  static constexpr size_t kRowBytes = (kWidth * 4 + 15) / 16 * 16;

  // A small monitor on a stand, as a TIFF of 16 x 16 pixels at 72 dpi: one uncompressed strip,
  // contiguous RGBA with associated (premultiplied) alpha, 8 bits per sample. Fails only when
  // libtiff cannot encode: ComputerImageErrorDomain -1 "TIFF encoding failed".
  static std::optional<Bytes> tiffRepresentation(Error* error = nullptr);
};

}  // namespace loomkit
