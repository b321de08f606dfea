// Reads arbitrary bytes as an XML property list. Whatever tree results must write out and read
// back to the same tree (reals compared as written, since the form keeps six decimals), and the
// second writing must be byte for byte the first.
#include <cstdio>
#include <cstdlib>

#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Log.h"

using namespace loomkit;

namespace {

bool sameAfterWriting(const PListNode& a, const PListNode& b) {
  if (a.type() != b.type()) return false;
  if (a.type() == PListNode::kRealType) {
    return RealNode::textForValue(static_cast<const RealNode&>(a).doubleValue()) ==
           RealNode::textForValue(static_cast<const RealNode&>(b).doubleValue());
  }
  if (a.type() == PListNode::kArrayType) {
    const auto& x = static_cast<const ArrayNode&>(a);
    const auto& y = static_cast<const ArrayNode&>(b);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (!sameAfterWriting(*x.objectAtIndex(i), *y.objectAtIndex(i))) return false;
    }
    return true;
  }
  if (a.type() == PListNode::kDictType) {
    const auto& x = static_cast<const DictNode&>(a);
    const auto& y = static_cast<const DictNode&>(b);
    if (x.orderedKeySet() != y.orderedKeySet()) return false;
    for (const auto& key : x.orderedKeySet()) {
      if (!sameAfterWriting(*x.nodeForKey(key), *y.nodeForKey(key))) return false;
    }
    return true;
  }
  return a.isEqual(b);
}

[[noreturn]] void failWith(const char* what, const Bytes& written) {
  std::fprintf(stderr, "%s\n--- written ---\n%.*s\n", what, static_cast<int>(written.size()),
               reinterpret_cast<const char*>(written.data()));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Log::setLevel(Log::kNone);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<DictNode> first = DictNode::dictNodeWithXMLData(std::span<const uint8_t>(data, size));
  if (!first) return 0;
  Bytes written = first->XMLData();
  Error error;
  std::unique_ptr<DictNode> second = DictNode::dictNodeWithXMLData(written, &error);
  if (!second) failWith(("written tree does not read back: " + error.text()).c_str(), written);
  if (!sameAfterWriting(*first, *second)) failWith("tree changed in a round trip", written);
  if (second->XMLData() != written) failWith("second writing differs from the first", written);
  if (!second->copy()->isEqual(*second) || second->copy()->hash() != second->hash()) {
    failWith("copy differs from its original", written);
  }
  return 0;
}
