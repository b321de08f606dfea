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

std::unordered_set<std::string> DictNode::keySet() const {
  std::unordered_set<std::string> keys;
  for (const Entry& entry : entries_) {
    if (entry.node) keys.insert(entry.key);
  }
  return keys;
}

std::vector<std::string> DictNode::orderedKeySet() const {
  std::vector<std::string> keys;
  keys.reserve(size_);
  for (const Entry& entry : entries_) {
    if (entry.node) keys.push_back(entry.key);
  }
  return keys;
}

std::vector<const PListNode*> DictNode::values() const {
  std::vector<const PListNode*> nodes;
  nodes.reserve(size_);
  for (const Entry& entry : entries_) {
    if (entry.node) nodes.push_back(entry.node.get());
  }
  return nodes;
}

int DictNode::nodeTypeForKey(std::string_view key) const {
  const PListNode* node = nodeForKey(key);
  return node ? node->type() : 0;
}

size_t DictNode::find(std::string_view key) const {
  if (index_.empty()) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].node && entries_[i].key == key) return i;
    }
    return kNotFound;
  }
  const size_t mask = index_.size() - 1;
  for (size_t slot = std::hash<std::string_view>()(key) & mask;; slot = (slot + 1) & mask) {
    const uint32_t at = index_[slot];
    if (at == 0) return kNotFound;
    const Entry& entry = entries_[at - 1];
    // A hole's slot stays until the next rebuild; the probe goes past it.
    if (entry.node && entry.key == key) return at - 1;
  }
}

void DictNode::indexEntry(size_t position) {
  const size_t mask = index_.size() - 1;
  size_t slot = std::hash<std::string_view>()(entries_[position].key) & mask;
  while (index_[slot] != 0) slot = (slot + 1) & mask;
  index_[slot] = static_cast<uint32_t>(position + 1);
}

void DictNode::rebuildIndex() {
  index_.clear();
  if (entries_.size() <= kScanLimit) return;
  size_t slots = 64;
  while (slots < 2 * entries_.size()) slots *= 2;  // at most half full, holes counted
  index_.assign(slots, 0);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].node) indexEntry(i);
  }
}

void DictNode::append(std::string key, std::unique_ptr<PListNode> node) {
  if (entries_.size() >= UINT32_MAX - 1) compact();  // positions must fit the index
  entries_.push_back(Entry{std::move(key), std::move(node)});
  ++size_;
  if (index_.empty() ? entries_.size() > kScanLimit : 2 * entries_.size() > index_.size()) {
    rebuildIndex();
  } else if (!index_.empty()) {
    indexEntry(entries_.size() - 1);
  }
}

void DictNode::vacate(size_t position) {
  entries_[position].node.reset();
  std::string().swap(entries_[position].key);
  --size_;
  if (entries_.size() - size_ > std::max<size_t>(size_, kScanLimit)) compact();
}

void DictNode::compact() {
  std::erase_if(entries_, [](const Entry& entry) { return !entry.node; });
  rebuildIndex();
}

void DictNode::put(std::unique_ptr<PListNode> node, std::string key) {
  if (!node) return;
  size_t found = find(key);
  if (found != kNotFound) {
    if (found + 1 == entries_.size()) {  // already last: only the value changes
      entries_[found].node = std::move(node);
      return;
    }
    vacate(found);
  }
  append(std::move(key), std::move(node));
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
  size_t found = find(key);
  if (found != kNotFound) vacate(found);
}

void DictNode::shrinkToFit() {
  if (size_ != entries_.size()) compact();
  entries_.shrink_to_fit();
}

void DictNode::removeAllObjects() {
  entries_.clear();
  index_.clear();
  size_ = 0;
}

std::unique_ptr<DictNode> DictNode::copyDict() const {
  auto copy = std::make_unique<DictNode>();
  copy->entries_.reserve(size_);
  for (const Entry& entry : entries_) {
    if (entry.node) copy->entries_.push_back(Entry{entry.key, entry.node->copy()});
  }
  copy->size_ = copy->entries_.size();
  copy->rebuildIndex();
  return copy;
}

bool DictNode::isEqualToDictNode(const DictNode& other) const {
  if (size_ != other.size_) return false;
  size_t j = 0;
  for (const Entry& entry : entries_) {
    if (!entry.node) continue;
    while (!other.entries_[j].node) ++j;
    const Entry& theirs = other.entries_[j++];
    if (entry.key != theirs.key || !entry.node->isEqual(*theirs.node)) return false;
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
  size_t keysHash = size_;
  for (const Entry& entry : entries_) {
    if (!entry.node) continue;
    size_t keyHash = std::hash<std::string>()(entry.key);
    mapHash += keyHash ^ entry.node->hash();
    keysHash = combineHash(keysHash, keyHash);
  }
  return 31 * (31 + mapHash) + keysHash;
}

std::string DictNode::description() const {
  std::string text = "<DictNode {";
  bool first = true;
  for (const Entry& entry : entries_) {
    if (!entry.node) continue;
    if (!first) text += "; ";
    first = false;
    text += entry.key + " = " + entry.node->description();
  }
  return text + "}>";
}

}  // namespace loomkit
