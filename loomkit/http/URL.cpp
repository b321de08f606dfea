#include "loomkit/http/URL.h"

#include <cctype>

namespace loomkit {

namespace {

bool hasUnsafeCharacter(const std::string& text) {
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7f) return true;
  }
  return false;
}

}  // namespace

std::optional<URL> URL::parse(const std::string& text) {
  if (hasUnsafeCharacter(text)) return std::nullopt;
  size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) return std::nullopt;
  URL url;
  for (size_t i = 0; i < schemeEnd; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    url.scheme_.push_back(static_cast<char>(std::tolower(c)));
  }
  size_t authorityStart = schemeEnd + 3;
  size_t targetStart = text.find_first_of("/?", authorityStart);
  std::string authority = text.substr(authorityStart, targetStart == std::string::npos ? std::string::npos
                                                                                       : targetStart - authorityStart);
  if (authority.find('@') != std::string::npos) return std::nullopt;
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos || close == 1) return std::nullopt;
    url.host_ = authority.substr(1, close - 1);
    std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      portText = rest.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    size_t colon = authority.find(':');
    url.host_ = authority.substr(0, colon);
    if (colon != std::string::npos) {
      portText = authority.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
    if (url.host_.find_first_of("[]") != std::string::npos) return std::nullopt;
  }
  if (url.host_.empty()) return std::nullopt;
  if (portText.empty()) {
    if (url.scheme_ == "http") url.port_ = 80;
    else if (url.scheme_ == "https") url.port_ = 443;
    else return std::nullopt;
  } else {
    if (portText.size() > 5) return std::nullopt;
    unsigned port = 0;
    for (char c : portText) {
      if (c < '0' || c > '9') return std::nullopt;
      port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    url.port_ = static_cast<uint16_t>(port);
  }
  url.target_ = targetStart == std::string::npos ? "/" : text.substr(targetStart);
  if (url.target_[0] == '?') url.target_.insert(0, "/");
  size_t fragment = url.target_.find('#');
  if (fragment != std::string::npos) url.target_.resize(fragment);
  return url;
}

std::optional<URL> URL::resolve(const std::string& location) const {
  if (location.find("://") != std::string::npos) return parse(location);
  if (location.rfind("//", 0) == 0) return parse(scheme_ + ":" + location);
  if (hasUnsafeCharacter(location)) return std::nullopt;
  URL url = *this;
  if (location.empty()) return url;
  if (location[0] == '/') {
    url.target_ = location;
  } else if (location[0] == '?') {
    url.target_ = target_.substr(0, target_.find('?')) + location;
  } else {
    std::string path = target_.substr(0, target_.find('?'));
    url.target_ = path.substr(0, path.rfind('/') + 1) + location;
  }
  size_t fragment = url.target_.find('#');
  if (fragment != std::string::npos) url.target_.resize(fragment);
  return url;
}

std::string URL::hostForHeader() const {
  return host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
}

std::string URL::text() const { return scheme_ + "://" + hostForHeader() + ":" + std::to_string(port_) + target_; }

}  // namespace loomkit
