// The commands of the photo library tool: make a library, bring photos into it, group and edit
// them, and choose the current library.
#pragma once

#include <string>
#include <vector>

namespace fotello {

// Runs on the tool's one thread. Results go to standard output, problems to standard error as
// "photolib: ..." lines. Commands that change a library hold its lock (LibraryLock) throughout and
// rewrite its index once, atomically, at the end; a command that fails leaves the index as it was.
class Photolib {
 public:
  // The version the tool reports: "9.4.1".
  static const char* version();

  // args: the words after the program name. Returns the exit status: 0 on success, 1 when the
  // command failed, 2 for a usage error.
  static int run(const std::vector<std::string>& args);
  static void printUsage();

 private:
  static int create(const std::string& library);
  static int import(const std::string& library, const std::string& folder);
  static int index(const std::string& folder);
  static int album(const std::string& library, const std::string& name, const std::vector<std::string>& keys);
  static int edit(const std::string& library, const std::string& key);
  static int open(const std::string& library);
  static int current();
};

}  // namespace fotello
