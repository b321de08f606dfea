#include "tools/fotelloctl/HashCommand.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "loomkit/crypto/SHA1Hash.h"

namespace fotello {

namespace {

// The file a path names, through any symbolic links (the digests refuse a link itself).
std::string resolved(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

}  // namespace

void HashCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl hash [--plain] FILE...         print each file's photo digest (JPEG image data\n"
               "                                            only), or with --plain the digest of all its bytes\n");
}

int HashCommand::run(const std::vector<std::string>& args) {
  bool plain = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "--plain" && files.empty() && !plain) plain = true;
    else files.push_back(arg);
  }
  if (files.empty()) {
    printUsage();
    return 2;
  }
  int status = 0;
  for (const std::string& file : files) {
    loomkit::Error error;
    const std::string path = resolved(file);
    std::optional<std::string> sha1 =
        plain ? loomkit::SHA1Hash::hashFile(path, &error) : loomkit::SHA1Hash::hashPhoto(path, &error);
    if (!sha1) {
      std::fprintf(stderr, "fotelloctl: cannot read %s: %s\n", file.c_str(), error.description().c_str());
      status = 1;
      continue;
    }
    std::printf("%s  %s\n", sha1->c_str(), file.c_str());
  }
  return status;
}

}  // namespace fotello
