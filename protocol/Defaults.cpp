#include "protocol/Defaults.h"

#include <cstdlib>

#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Log.h"
#include "protocol/FotelloApp.h"

namespace fotello {

std::string Defaults::photoLibraryPreferencesPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config && config[0] == '/' ? config : FotelloApp::homeDirectory() + "/.config";
  return base + "/photolib/preferences.plist";
}

std::optional<std::string> Defaults::iPhotoRootDirectory() {
  std::string path = photoLibraryPreferencesPath();
  if (!loomkit::FileSystem::exists(path)) return std::nullopt;
  loomkit::Error error;
  auto dict = loomkit::DictNode::dictNodeWithContentsOfXMLFile(path, &error);
  if (!dict) {
    LOG_ERROR("error reading photo library preferences %s: %s", path.c_str(), error.description().c_str());
    return std::nullopt;
  }
  const auto* node = dict->stringNodeForKey("RootDirectory");
  if (!node || !node->stringValue()) return std::nullopt;
  std::string root = *node->stringValue();
  if (root == "~" || root.rfind("~/", 0) == 0) root = FotelloApp::homeDirectory() + root.substr(1);
  return root;
}

}  // namespace fotello
