// The spelling of types and domains: the DNS-SD layer writes them as absolute names with the
// final dot ("_fotello._tcp.", "local."), avahi without it.
#pragma once

#include <string>

namespace fotello::avahi_names {

// The domain every registration and browser uses, in avahi's spelling.
inline constexpr const char* kDomain = "local";

// "_fotello._tcp." -> "_fotello._tcp"
inline std::string withoutFinalDot(const std::string& name) {
  return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
}

// "_fotello._tcp" -> "_fotello._tcp."
inline std::string withFinalDot(const std::string& name) { return name.ends_with('.') ? name : name + "."; }

}  // namespace fotello::avahi_names
