// What the rest of the system needs to know about this computer: the name it is shown under and
// the icon file that represents it to peers.
#pragma once

#include <optional>
#include <string>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Stateless; safe from any thread. Only the desktop application writes the icon file, atomically,
// so the agent reading it sees either no file or a whole one.
class Computer {
 public:
  // Where the system keeps its descriptive host settings, among them the PRETTY_HOSTNAME.
  static constexpr const char* kMachineInfoPath = "/etc/machine-info";

  // The name shown to peers: PRETTY_HOSTNAME of the machine-info file (shell-style assignments),
  // else the host name, else "unknown-computer-name". Never empty.
  static std::string name(const std::string& machineInfoPath = kMachineInfoPath);

  // "computerIcon.dat" in the given data directory.
  static std::string computerImageDataPath(const std::string& dataDirectory);

  // Writes the generic computer picture (a 16 x 16 RGBA TIFF) to the icon file atomically unless
  // something already exists at that path. A failure is logged at ERROR as "error writing %@: %@"
  // and otherwise ignored; the next call tries again.
  static void storeImageData(const std::string& dataDirectory);

  // The current bytes of the icon file (read anew every time), or nothing with the file system's
  // error: the open failure's system text ("%s") or "read(%@): %s", in UnixErrorDomain. A
  // symbolic link is not followed; a file above 1 MiB fails with EFBIG.
  static std::optional<Bytes> imageData(const std::string& dataDirectory, Error* error = nullptr);
};

}  // namespace loomkit
