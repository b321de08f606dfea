#include "tools/fotelloctl/ConfigCommand.h"

#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "loomkit/shared/Log.h"
#include "protocol/AppConfig.h"

namespace fotello {

namespace {

bool parseBool(const std::string& text, bool* value) {
  for (const char* yes : {"true", "yes", "on", "1"}) {
    if (strcasecmp(text.c_str(), yes) == 0) return *value = true, true;
  }
  for (const char* no : {"false", "no", "off", "0"}) {
    if (strcasecmp(text.c_str(), no) == 0) return *value = false, true;
  }
  return false;
}

bool parseInt(const std::string& text, int32_t* value) {
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

void show(const AppConfig& config) {
  auto yesNo = [](bool b) { return b ? "true" : "false"; };
  std::printf("file               %s\n", config.appConfigPath().c_str());
  std::printf("uuid               %s\n", config.uuid().c_str());
  std::printf("iPhotoLibraryPath  %s\n", config.iPhotoLibraryPath().value_or("(none)").c_str());
  std::printf("tzLogLevel         %d (%s)\n", config.tzLogLevel(), loomkit::Log::displayName(config.tzLogLevel()));
  std::printf("statusItemVisible  %s\n", yesNo(config.statusItemVisible()));
  std::printf("autoLaunchIPhoto   %s\n", yesNo(config.autoLaunchIPhoto()));
  std::printf("minFreeDiskSpaceGB %d\n", config.minFreeDiskSpaceGB());
  std::printf("passwordRequired   %s\n", yesNo(config.passwordRequired()));
  std::printf("readTimeoutSeconds %d\n", config.readTimeoutSeconds());
  std::printf("useSAXParser       %s\n", yesNo(config.useSAXParser()));
}

// Applies one "KEY VALUE" change; the configuration saves itself. Returns false for bad input.
bool set(AppConfig& config, const std::string& key, const std::string& value) {
  bool b = false;
  int32_t n = 0;
  if (key == "iPhotoLibraryPath") {
    if (value.empty() || value[0] != '/') return false;
    config.setIPhotoLibraryPath(value);
  } else if (key == "tzLogLevel") {
    int named = loomkit::Log::levelForName(value);
    if (named == 0 && !(parseInt(value, &n) && n >= 0 && n <= 5)) {
      if (strcasecmp(value.c_str(), "none") != 0) return false;
      n = 0;
    }
    config.setTzLogLevel(named != 0 ? named : n);
  } else if (key == "minFreeDiskSpaceGB" || key == "readTimeoutSeconds") {
    if (!parseInt(value, &n) || n < 0) return false;
    if (key == "minFreeDiskSpaceGB") config.setMinFreeDiskSpaceGB(n);
    else config.setReadTimeoutSeconds(n);
  } else if (key == "statusItemVisible" || key == "autoLaunchIPhoto" || key == "passwordRequired" ||
             key == "useSAXParser") {
    if (!parseBool(value, &b)) return false;
    if (key == "statusItemVisible") config.setStatusItemVisible(b);
    else if (key == "autoLaunchIPhoto") config.setAutoLaunchIPhoto(b);
    else if (key == "passwordRequired") config.setPasswordRequired(b);
    else config.setUseSAXParser(b);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void ConfigCommand::printUsage() {
  std::fprintf(stderr,
               "  fotelloctl config init [--library PATH]   create the configuration (keeps an existing one)\n"
               "  fotelloctl config show                    print every setting\n"
               "  fotelloctl config set KEY VALUE           change one setting; running programs follow\n"
               "      KEY: iPhotoLibraryPath, tzLogLevel (0-5 or error|warn|info|debug|trace),\n"
               "           statusItemVisible, autoLaunchIPhoto, minFreeDiskSpaceGB, passwordRequired,\n"
               "           readTimeoutSeconds, useSAXParser\n");
}

int ConfigCommand::run(const std::vector<std::string>& args) {
  if (args.empty()) {
    printUsage();
    return 2;
  }
  AppConfig config;
  loomkit::Error error;
  const std::string& verb = args[0];
  if (verb == "init") {
    std::optional<std::string> library;
    if (args.size() == 3 && args[1] == "--library") library = args[2];
    else if (args.size() != 1) return printUsage(), 2;
    if (library && (library->empty() || (*library)[0] != '/')) {
      std::fprintf(stderr, "fotelloctl: the library path must be absolute: %s\n", library->c_str());
      return 2;
    }
    if (!config.loadWithCreateNew(true, &error)) {
      std::fprintf(stderr, "fotelloctl: cannot write %s: %s\n", config.appConfigPath().c_str(),
                   error.description().c_str());
      return 1;
    }
    if (library) config.setIPhotoLibraryPath(library);
    show(config);
    return 0;
  }
  if (!config.loadWithCreateNew(false, &error)) {
    std::fprintf(stderr, "fotelloctl: %s (run 'fotelloctl config init' first)\n", error.description().c_str());
    return 1;
  }
  if (verb == "show" && args.size() == 1) {
    show(config);
    return 0;
  }
  if (verb == "set" && args.size() == 3) {
    if (!set(config, args[1], args[2])) {
      std::fprintf(stderr, "fotelloctl: cannot set %s to '%s'\n", args[1].c_str(), args[2].c_str());
      printUsage();
      return 2;
    }
    return 0;
  }
  printUsage();
  return 2;
}

}  // namespace fotello
