// Helpers for tests that drive the built photolib: a private copy of the tool and its
// preferences, and photo files it accepts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"

namespace fotello::test {

// A copy of the built photolib under the given name, used through FOTELLO_PHOTOLIB, with its
// preferences in a private XDG_CONFIG_HOME. The name keeps the copy apart from other photolib
// processes when tests look for running ones.
class PrivatePhotolib {
 public:
  explicit PrivatePhotolib(const std::string& name = "photolib-private")
      : tool_(dir_.file(name)),
        override_("FOTELLO_PHOTOLIB", tool_),
        config_("XDG_CONFIG_HOME", dir_.file("config")) {
    std::filesystem::copy_file(programPath("tools/photolib"), tool_);
  }

  const std::string& tool() const { return tool_; }
  std::string file(const std::string& name) const { return dir_.file(name); }

  // Runs the tool; returns its exit status.
  int run(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {tool_};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, {});
    std::optional<int> status = child.wait(std::chrono::seconds(60));
    EXPECT_TRUE(status) << "photolib did not finish";
    return status.value_or(-1);
  }

  // Makes a library at dir/name and returns its path.
  std::string library(const std::string& name) const {
    std::string path = dir_.file(name);
    EXPECT_EQ(run({"create", path}), 0);
    return path;
  }

 private:
  TempDir dir_;
  std::string tool_;
  ScopedEnv override_;
  ScopedEnv config_;
};

// The smallest file photolib takes as a PNG photo: the signature and a header chunk.
inline std::string pngFile(uint32_t width, uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n";
  png += std::string("\0\0\0\x0dIHDR", 8);
  for (uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((v >> shift) & 0xFF);
  }
  png += std::string("\x08\x02\0\0\0", 5);
  png += std::string(4, '\0');  // CRC, unchecked
  return png;
}

}  // namespace fotello::test
