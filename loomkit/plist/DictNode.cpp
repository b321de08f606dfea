#include "loomkit/plist/DictNode.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/XMLPListReader.h"
#include "loomkit/plist/XMLPListWriter.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

// The whole contents of a file; nullopt with a UnixErrorDomain error when it cannot be read.
std::optional<Bytes> readWholeFile(const std::string& path, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    setUnixError(error, e, strprintf("open(%s): %s", path.c_str(), systemErrorText(e).c_str()));
    return std::nullopt;
  }
  Bytes contents;
  uint8_t chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      setUnixError(error, e, strprintf("read(%s): %s", path.c_str(), systemErrorText(e).c_str()));
      return std::nullopt;
    }
    if (n == 0) break;
    contents.insert(contents.end(), chunk, chunk + n);
  }
  ::close(fd);
  return contents;
}

}  // namespace

DictNode::DictNode(Map dict, const std::vector<std::string>& orderedKeys) {
  for (const auto& key : orderedKeys) {
    auto found = dict.find(key);
    if (found != dict.end()) put(std::move(found->second), key);
    dict.erase(key);
  }
  std::vector<std::string> rest;
  for (const auto& [key, node] : dict) rest.push_back(key);
  std::sort(rest.begin(), rest.end());
  for (const auto& key : rest) put(std::move(dict[key]), key);
}

std::unique_ptr<DictNode> DictNode::dictNodeWithContentsOfXMLFile(const std::string& path, Error* error) {
  std::optional<Bytes> contents = readWholeFile(path, error);
  if (!contents) return nullptr;
  return dictNodeWithXMLData(*contents, error);
}

std::unique_ptr<DictNode> DictNode::dictNodeWithXMLData(std::span<const uint8_t> data, Error* error) {
  return XMLPListReader(data).read(error);
}

bool DictNode::writeXMLToFile(const std::string& path, Error* error) const {
  Bytes data = XMLData();
  return FileSystem::writeFileAtomically(path, data.data(), data.size(), error);
}

Bytes DictNode::XMLData() const {
  Bytes data;
  XMLPListWriter(data).write(*this);
  return data;
}

std::unordered_set<std::string> DictNode::keySet() const { return {orderedKeys_.begin(), orderedKeys_.end()}; }

std::vector<const PListNode*> DictNode::values() const {
  std::vector<const PListNode*> nodes;
  nodes.reserve(dict_.size());
  for (const auto& [key, entry] : dict_) nodes.push_back(entry.node.get());
  return nodes;
}

int DictNode::nodeTypeForKey(std::string_view key) const {
  const PListNode* node = nodeForKey(key);
  return node ? node->type() : 0;
}

void DictNode::put(std::unique_ptr<PListNode> node, std::string key) {
  if (!node) return;
  auto found = dict_.find(key);
  if (found != dict_.end()) {
    found->second.node = std::move(node);
    orderedKeys_.splice(orderedKeys_.end(), orderedKeys_, found->second.position);
    return;
  }
  auto position = orderedKeys_.insert(orderedKeys_.end(), key);
  dict_.emplace(std::move(key), Entry{std::move(node), position});
}

void DictNode::putString(std::optional<std::string> value, std::string key) {
  put(std::make_unique<StringNode>(std::move(value)), std::move(key));
}

void DictNode::putInt(int32_t value, std::string key) { put(std::make_unique<IntegerNode>(value), std::move(key)); }

void DictNode::putLongLong(int64_t value, std::string key) {
  put(std::make_unique<IntegerNode>(value), std::move(key));
}

void DictNode::putBoolean(bool value, std::string key) { put(std::make_unique<BooleanNode>(value), std::move(key)); }

void DictNode::putDouble(double value, std::string key) { put(std::make_unique<RealNode>(value), std::move(key)); }

void DictNode::removeKey(std::string_view key) {
  auto found = dict_.find(key);
  if (found == dict_.end()) return;
  orderedKeys_.erase(found->second.position);
  dict_.erase(found);
}

void DictNode::removeAllObjects() {
  dict_.clear();
  orderedKeys_.clear();
}

std::unique_ptr<DictNode> DictNode::copyDict() const {
  auto copy = std::make_unique<DictNode>();
  for (const auto& key : orderedKeys_) copy->put(dict_.find(key)->second.node->copy(), key);
  return copy;
}

bool DictNode::isEqualToDictNode(const DictNode& other) const {
  if (dict_.size() != other.dict_.size()) return false;
  auto theirs = other.orderedKeys_.begin();
  for (const auto& key : orderedKeys_) {
    if (key != *theirs) return false;
    if (!dict_.find(key)->second.node->isEqual(*other.dict_.find(key)->second.node)) return false;
    ++theirs;
  }
  return true;
}

bool DictNode::isEqual(const PListNode& other) const {
  if (this == &other) return true;
  const auto* node = dynamic_cast<const DictNode*>(&other);
  return node && isEqualToDictNode(*node);
}

size_t DictNode::hash() const {
  // The map's hash does not depend on order; the key list's does.
  size_t mapHash = 0;
  size_t keysHash = orderedKeys_.size();
  for (const auto& key : orderedKeys_) {
    size_t keyHash = std::hash<std::string>()(key);
    mapHash += keyHash ^ dict_.find(key)->second.node->hash();
    keysHash = combineHash(keysHash, keyHash);
  }
  return 31 * (31 + mapHash) + keysHash;
}

std::string DictNode::description() const {
  std::string text = "<DictNode {";
  bool first = true;
  for (const auto& key : orderedKeys_) {
    if (!first) text += "; ";
    first = false;
    text += key + " = " + dict_.find(key)->second.node->description();
  }
  return text + "}>";
}

}  // namespace loomkit
