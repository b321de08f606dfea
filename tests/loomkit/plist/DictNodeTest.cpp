// Dictionary operations and the file form.
#include "loomkit/plist/DictNode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/TestSupport.h"

using namespace loomkit;
using fotello::test::TempDir;

TEST(DictNodeTest, PutReplacesAndMovesTheKeyToTheEnd) {
  DictNode dict;
  dict.putString("1", "a");
  dict.putInt(2, "b");
  dict.putBoolean(true, "a");
  EXPECT_EQ(dict.orderedKeySet(), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(dict.size(), 2u);
  EXPECT_EQ(dict.nodeTypeForKey("a"), PListNode::kBooleanType);
  EXPECT_EQ(dict.stringNodeForKey("a"), nullptr);  // the old value is gone

  dict.put(nullptr, "b");  // ignored: no null values
  EXPECT_EQ(dict.nodeTypeForKey("b"), PListNode::kIntegerType);

  dict.removeKey("b");
  dict.removeKey("missing");
  EXPECT_EQ(dict.orderedKeySet(), (std::vector<std::string>{"a"}));
  dict.putInt(3, "b");
  EXPECT_EQ(dict.orderedKeySet(), (std::vector<std::string>{"a", "b"}));
  dict.removeAllObjects();
  EXPECT_EQ(dict.size(), 0u);
  EXPECT_TRUE(dict.orderedKeySet().empty());
}

TEST(DictNodeTest, TypedGettersAndPresence) {
  DictNode dict;
  dict.putString("text", "s");
  dict.putString(std::nullopt, "nil");
  dict.putInt(-1, "i");
  dict.putLongLong(1LL << 40, "ll");
  dict.putDouble(1.5, "r");
  dict.put(std::make_unique<ArrayNode>(), "list");
  dict.put(std::make_unique<DictNode>(), "sub");

  EXPECT_EQ(dict.stringNodeForKey("s")->stringValue(), "text");
  ASSERT_TRUE(dict.stringNodeForKey("nil"));
  EXPECT_FALSE(dict.stringNodeForKey("nil")->stringValue());
  EXPECT_EQ(dict.integerNodeForKey("i")->longlongValue(), -1);
  EXPECT_EQ(dict.integerNodeForKey("ll")->longlongValue(), 1LL << 40);
  EXPECT_EQ(dict.realNodeForKey("r")->doubleValue(), 1.5);
  EXPECT_TRUE(dict.arrayNodeForKey("list"));
  EXPECT_TRUE(dict.dictNodeForKey("sub"));

  // Absent keys and other classes give no node.
  EXPECT_EQ(dict.nodeForKey("missing"), nullptr);
  EXPECT_EQ(dict.nodeTypeForKey("missing"), 0);
  EXPECT_FALSE(dict.containsKey("missing"));
  EXPECT_EQ(dict.integerNodeForKey("s"), nullptr);
  EXPECT_EQ(dict.booleanNodeForKey("i"), nullptr);
  EXPECT_EQ(dict.dictNodeForKey("list"), nullptr);
  EXPECT_TRUE(dict.containsKey("nil"));

  EXPECT_EQ(dict.keySet(), (std::unordered_set<std::string>{"s", "nil", "i", "ll", "r", "list", "sub"}));
  EXPECT_EQ(dict.values().size(), 7u);
}

TEST(DictNodeTest, AdoptingAMapKeepsEachKeyOnce) {
  DictNode::Map map;
  map["a"] = std::make_unique<IntegerNode>(1);
  map["b"] = std::make_unique<IntegerNode>(2);
  map["c"] = std::make_unique<IntegerNode>(3);
  map["d"] = std::make_unique<IntegerNode>(4);
  map["n"] = nullptr;
  DictNode dict(std::move(map), {"c", "ghost", "a", "c"});
  // Listed keys first, then the unlisted ones sorted; keys without a value are dropped.
  EXPECT_EQ(dict.orderedKeySet(), (std::vector<std::string>{"c", "a", "b", "d"}));
  EXPECT_EQ(dict.integerNodeForKey("c")->longlongValue(), 3);
}

TEST(DictNodeTest, FileRoundTrip) {
  TempDir dir;
  std::string path = dir.file("app_config.plist");
  DictNode dict;
  dict.putString("Ünïcødé & more", "name");
  dict.putInt(3, "tzLogLevel");
  dict.putBoolean(false, "useSAXParser");

  Error error;
  ASSERT_TRUE(dict.writeXMLToFile(path, &error)) << error.text();
  auto back = DictNode::dictNodeWithContentsOfXMLFile(path, &error);
  ASSERT_TRUE(back) << error.text();
  EXPECT_TRUE(back->isEqual(dict));
  EXPECT_EQ(fotello::test::readFile(path), std::string(loomkit::textOf(dict.XMLData())));

  // Rewriting replaces the file whole.
  dict.removeKey("name");
  ASSERT_TRUE(dict.writeXMLToFile(path, &error)) << error.text();
  back = DictNode::dictNodeWithContentsOfXMLFile(path, &error);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(dict));
}

TEST(DictNodeTest, FileErrorsAreTheSystems) {
  TempDir dir;
  Error error;
  EXPECT_FALSE(DictNode::dictNodeWithContentsOfXMLFile(dir.file("missing.plist"), &error));
  EXPECT_TRUE(error.is(kUnixErrorDomain, ENOENT)) << error.text();

  EXPECT_FALSE(DictNode::dictNodeWithContentsOfXMLFile(dir.path(), &error));
  EXPECT_TRUE(error.is(kUnixErrorDomain, EISDIR)) << error.text();

  EXPECT_FALSE(DictNode().writeXMLToFile(dir.file("no/such/dir/x.plist"), &error));
  EXPECT_TRUE(error.is(kUnixErrorDomain, ENOENT)) << error.text();

  // A malformed file is the reader's error.
  fotello::test::writeFile(dir.file("bad.plist"), "<plist>");
  EXPECT_FALSE(DictNode::dictNodeWithContentsOfXMLFile(dir.file("bad.plist"), &error));
  EXPECT_EQ(error.domain(), kPListErrorDomain);
}

TEST(DictNodeTest, LargeDictionariesKeepTheOrderRulesThroughReplacesAndRemovals) {
  // Against a plain model: keys in order of last put, replaced keys moved to the end. Sizes
  // cross the point where lookups switch from scanning to an index, and holes pile up enough
  // to be compacted several times.
  std::mt19937 random(7);
  for (size_t keys : {5u, 17u, 40u, 3000u}) {
    DictNode dict;
    std::vector<std::pair<std::string, int64_t>> model;
    for (int step = 0; step < 20000; ++step) {
      std::string key = "k" + std::to_string(random() % keys);
      auto at = std::find_if(model.begin(), model.end(), [&](const auto& entry) { return entry.first == key; });
      if (random() % 4 == 0) {
        dict.removeKey(key);
        if (at != model.end()) model.erase(at);
      } else {
        dict.putLongLong(step, key);
        if (at != model.end()) model.erase(at);
        model.emplace_back(key, step);
      }
    }
    ASSERT_EQ(dict.size(), model.size()) << keys;
    std::vector<std::string> order;
    for (const auto& [key, value] : model) {
      order.push_back(key);
      ASSERT_TRUE(dict.integerNodeForKey(key)) << key;
      EXPECT_EQ(dict.integerNodeForKey(key)->longlongValue(), value) << key;
    }
    EXPECT_EQ(dict.orderedKeySet(), order) << keys;
    EXPECT_FALSE(dict.containsKey("k" + std::to_string(keys)));
    std::unique_ptr<DictNode> copy = dict.copyDict();
    EXPECT_TRUE(copy->isEqual(dict));
    EXPECT_EQ(copy->hash(), dict.hash());
    EXPECT_EQ(copy->orderedKeySet(), order);
  }
}
