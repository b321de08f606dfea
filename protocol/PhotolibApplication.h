// The photo application on Linux: the photolib tool, run as a child process for each call.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/PhotoApplication.h"

namespace fotello {

// Stateless apart from what the environment says; safe from any thread. The tool is
// $FOTELLO_PHOTOLIB when that is set (tests), else "photolib" beside the running program's own
// executable, else the first "photolib" on PATH, looked up at each call. The current library is
// the tool's preference "RootDirectory" (Defaults). The tool runs only for the length of a command:
// it is "running" while some command of it runs (an import or an index holds the library's lock
// meanwhile), and quitting asks nothing of it, since every command ends by itself.
class PhotolibApplication final : public PhotoApplication {
 public:
  static constexpr const char* kExecutableName = "photolib";
  static constexpr const char* kOverrideVariable = "FOTELLO_PHOTOLIB";

  // The tool's path; absent when there is none.
  static std::optional<std::string> executablePath();

  std::optional<std::string> currentLibraryPath() override;
  // "photolib --version".
  std::optional<std::string> version(loomkit::Error* error = nullptr) override;
  // A process whose executable has the tool's file name exists.
  bool isRunning() override;
  bool quit(loomkit::Error* error = nullptr) override;
  // "photolib open PATH".
  bool openLibrary(const std::string& path, loomkit::Error* error = nullptr) override;
  // "photolib import CURRENT FOLDER", then the folder removed when asked. Without a current
  // library: "no current photo library" (-1).
  bool importFolder(const std::string& folder, bool removeFolder, loomkit::Error* error = nullptr) override;

 private:
  // Runs the tool with the arguments and waits for it; its standard output in *output. A tool
  // that cannot be found or started, or that exits with a status other than 0, fails in
  // kPhotoApplicationErrorDomain with the status as code and the last line it printed as text.
  static bool runTool(const std::vector<std::string>& args, std::string* output, loomkit::Error* error);
};

}  // namespace fotello
