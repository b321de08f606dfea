// The value nodes and arrays: scanning, equality, hashes, descriptions, copies.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "loomkit/plist/ArrayNode.h"
#include "loomkit/plist/DictNode.h"
#include "tests/support/TestSupport.h"

using namespace loomkit;

TEST(IntegerNodeTest, ScansLeadingDecimalIntegerWithClamping) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  struct Case {
    const char* text;
    int64_t value;
  } cases[] = {
      {" 42abc", 42},
      {"\t\n-17 18", -17},
      {"+5", 5},
      {"-0", 0},
      {"007", 7},
      {"9223372036854775807", kMax},
      {"9223372036854775808", kMax},
      {"123456789012345678901234567890", kMax},
      {"-9223372036854775808", kMin},
      {"-9223372036854775809", kMin},
      {"-99999999999999999999999", kMin},
  };
  for (const auto& c : cases) {
    Error error;
    auto node = IntegerNode::newWithString(c.text, &error);
    ASSERT_TRUE(node) << c.text << ": " << error.text();
    EXPECT_EQ(node->longlongValue(), c.value) << c.text;
  }
}

TEST(IntegerNodeTest, TextWithoutDigitsFails) {
  for (const char* text : {"abc", "", "   ", "-", "+ 5", "--5", "x42"}) {
    Error error;
    EXPECT_FALSE(IntegerNode::newWithString(text, &error)) << text;
    EXPECT_TRUE(error.is(kPListErrorDomain, -1)) << text;
    EXPECT_EQ(error.description(), std::string("string does not contain a long long: ") + text);
  }
}

TEST(IntegerNodeTest, IntValueIsTheLow32Bits) {
  EXPECT_EQ(IntegerNode(0x100000005LL).intValue(), 5);
  EXPECT_EQ(IntegerNode(0x80000000LL).intValue(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(IntegerNode(-1).intValue(), -1);
  int32_t negative = -2;
  EXPECT_EQ(IntegerNode(negative).longlongValue(), -2);  // sign-extended
}

TEST(RealNodeTest, ScansLeadingDecimalNumber) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"0.5", 0.5},   {" 1e3x", 1000.0}, {"-.25", -0.25},    {"+5.", 5.0},    {"1e", 1.0},
      {"2E-2", 0.02}, {"1e400", kInf},   {"-1e400", -kInf},  {"1e-400", 0.0}, {"0x10", 0.0},
      {"inf", kInf},  {"12,5", 12.0},    {"-Infinity", -kInf},
  };
  for (const auto& c : cases) {
    Error error;
    auto node = RealNode::newWithString(c.text, &error);
    ASSERT_TRUE(node) << c.text << ": " << error.text();
    EXPECT_EQ(node->doubleValue(), c.value) << c.text;
  }
  auto nan = RealNode::newWithString("-nan");
  ASSERT_TRUE(nan);
  EXPECT_TRUE(std::isnan(nan->doubleValue()));
}

TEST(RealNodeTest, TextWithoutNumberFails) {
  for (const char* text : {"x", "", ".", "e5", "-", " +e1", "in"}) {
    Error error;
    EXPECT_FALSE(RealNode::newWithString(text, &error)) << text;
    EXPECT_TRUE(error.is(kPListErrorDomain, -1)) << text;
    EXPECT_EQ(error.description(), std::string("string does not contain a double: ") + text);
  }
}

TEST(RealNodeTest, TextHasSixDecimalsRounded) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.1234567, "0.123457"},
      {1e-7, "0.000000"},
      {-0.5, "-0.500000"},
      {42.0, "42.000000"},
      {1e20, "100000000000000000000.000000"},
      {std::numeric_limits<double>::infinity(), "inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(RealNode::textForValue(c.value), c.text) << c.value;
  EXPECT_EQ(RealNode::textForValue(std::numeric_limits<double>::max()).size(), 309u + 7u);
}

namespace {

std::unique_ptr<ArrayNode> arrayOf(std::vector<int64_t> values) {
  auto array = std::make_unique<ArrayNode>();
  for (int64_t v : values) array->add(std::make_unique<IntegerNode>(v));
  return array;
}

std::unique_ptr<DictNode> dictOf(std::vector<std::pair<std::string, int64_t>> entries) {
  auto dict = std::make_unique<DictNode>();
  for (const auto& [key, value] : entries) dict->putLongLong(value, key);
  return dict;
}

}  // namespace

TEST(PListNodeTest, EqualityByClassAndValue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::unique_ptr<PListNode> a, b;
    bool equal;
  } cases[] = {
      {"integers", std::make_unique<IntegerNode>(3), std::make_unique<IntegerNode>(3), true},
      {"different integers", std::make_unique<IntegerNode>(3), std::make_unique<IntegerNode>(4), false},
      {"integer and real", std::make_unique<IntegerNode>(1), std::make_unique<RealNode>(1.0), false},
      {"boolean and integer", std::make_unique<BooleanNode>(true), std::make_unique<IntegerNode>(1), false},
      {"zeros", std::make_unique<RealNode>(0.0), std::make_unique<RealNode>(-0.0), true},
      {"NaNs", std::make_unique<RealNode>(nan), std::make_unique<RealNode>(nan), true},
      {"strings", std::make_unique<StringNode>("x"), std::make_unique<StringNode>("x"), true},
      {"absent strings", std::make_unique<StringNode>(std::nullopt), std::make_unique<StringNode>(std::nullopt), true},
      {"absent and empty", std::make_unique<StringNode>(std::nullopt), std::make_unique<StringNode>(""), false},
      {"arrays", arrayOf({1, 2}), arrayOf({1, 2}), true},
      {"array order", arrayOf({1, 2}), arrayOf({2, 1}), false},
      {"array prefix", arrayOf({1}), arrayOf({1, 2}), false},
      {"dicts", dictOf({{"a", 1}, {"b", 2}}), dictOf({{"a", 1}, {"b", 2}}), true},
      {"dict order", dictOf({{"a", 1}, {"b", 2}}), dictOf({{"b", 2}, {"a", 1}}), false},
      {"dict values", dictOf({{"a", 1}}), dictOf({{"a", 2}}), false},
      {"dict keys", dictOf({{"a", 1}}), dictOf({{"b", 1}}), false},
      {"array and dict", std::make_unique<ArrayNode>(), std::make_unique<DictNode>(), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a->isEqual(*c.b), c.equal) << c.name;
    EXPECT_EQ(c.b->isEqual(*c.a), c.equal) << c.name;
    EXPECT_TRUE(c.a->isEqual(*c.a)) << c.name;
    if (c.equal) {
      EXPECT_EQ(c.a->hash(), c.b->hash()) << c.name;
    }
  }
}

TEST(PListNodeTest, HashValues) {
  EXPECT_EQ(BooleanNode(true).hash(), 1262u);
  EXPECT_EQ(BooleanNode(false).hash(), 1268u);
  EXPECT_EQ(IntegerNode(11).hash(), 42u);
  EXPECT_EQ(IntegerNode(-31).hash(), 0u);
  EXPECT_EQ(RealNode(2.9).hash(), 33u);
  EXPECT_EQ(RealNode(-1.5).hash(), 30u);  // -1 as unsigned, plus 31
  EXPECT_EQ(StringNode("x").hash(), std::hash<std::string>()("x") + 31);
  // Out-of-range values must not reach an undefined conversion (the sanitizer build checks).
  EXPECT_EQ(RealNode(1e300).hash(), 30u);  // saturated, then plus 31 wraps
  RealNode(-1e300).hash();
  RealNode(std::numeric_limits<double>::quiet_NaN()).hash();
  // The same content built along different paths hashes alike.
  auto built = dictOf({{"a", 1}, {"b", 2}});
  auto rebuilt = dictOf({{"b", 0}, {"a", 1}});
  rebuilt->putLongLong(2, "b");
  ASSERT_TRUE(built->isEqual(*rebuilt));
  EXPECT_EQ(built->hash(), rebuilt->hash());
}

TEST(PListNodeTest, Descriptions) {
  auto array = std::make_unique<ArrayNode>();
  array->add(std::make_unique<IntegerNode>(1));
  array->add(std::make_unique<StringNode>("a"));
  DictNode dict;
  dict.put(std::move(array), "list");
  dict.putBoolean(false, "flag");
  struct Case {
    std::string actual, expected;
  } cases[] = {
      {IntegerNode(-5).description(), "<IntegerNode -5>"},
      {RealNode(0.5).description(), "<RealNode 0.500000>"},
      {BooleanNode(true).description(), "<BooleanNode YES>"},
      {BooleanNode(false).description(), "<BooleanNode NO>"},
      {StringNode("hi").description(), "<StringNode \"hi\">"},
      {StringNode(std::nullopt).description(), "<StringNode \"(null)\">"},
      {dict.description(),
       "<DictNode {list = <ArrayNode (<IntegerNode 1>, <StringNode \"a\">)>; flag = <BooleanNode NO>}>"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(PListNodeTest, CopiesAreDeepAndIndependent) {
  DictNode original;
  original.putString("v", "s");
  auto inner = std::make_unique<DictNode>();
  inner->putInt(1, "n");
  auto list = std::make_unique<ArrayNode>();
  list->add(std::move(inner));
  original.put(std::move(list), "list");
  original.putInt(2, "z");
  original.putInt(3, "a");

  std::unique_ptr<PListNode> copy = original.copy();
  ASSERT_TRUE(copy->isEqual(original));
  auto* copied = dynamic_cast<DictNode*>(copy.get());
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->orderedKeySet(), (std::vector<std::string>{"s", "list", "z", "a"}));

  copied->arrayNodeForKey("list")->dictNodeAtIndex(0)->putInt(99, "n");
  copied->arrayNodeForKey("list")->add(std::make_unique<BooleanNode>(true));
  copied->removeKey("s");
  EXPECT_EQ(original.arrayNodeForKey("list")->dictNodeAtIndex(0)->integerNodeForKey("n")->longlongValue(), 1);
  EXPECT_EQ(original.arrayNodeForKey("list")->size(), 1u);
  EXPECT_TRUE(original.containsKey("s"));
  EXPECT_FALSE(copied->isEqual(original));
}

TEST(ArrayNodeTest, ElementTypeAndIndexedAccess) {
  ArrayNode array;
  EXPECT_EQ(array.arrayElementsType(), PListNode::kStringType);
  EXPECT_EQ(array.objectAtIndex(0), nullptr);

  array.add(std::make_unique<IntegerNode>(1));
  array.add(std::make_unique<IntegerNode>(3));
  array.add(std::make_unique<RealNode>(2.0), 1);
  array.add(std::make_unique<BooleanNode>(true), 99);  // past the end: appended
  array.add(nullptr);
  ASSERT_EQ(array.size(), 4u);
  EXPECT_EQ(array.arrayElementsType(), PListNode::kIntegerType);
  EXPECT_EQ(array.integerNodeAtIndex(0)->longlongValue(), 1);
  EXPECT_EQ(array.realNodeAtIndex(1)->doubleValue(), 2.0);
  EXPECT_EQ(array.integerNodeAtIndex(2)->longlongValue(), 3);
  EXPECT_TRUE(array.booleanNodeAtIndex(3)->booleanValue());
  // The typed accessors check the class, so a wrong guess is a null pointer, not a bad cast.
  EXPECT_EQ(array.stringNodeAtIndex(0), nullptr);
  EXPECT_EQ(array.dictNodeAtIndex(1), nullptr);
  EXPECT_EQ(array.arrayNodeAtIndex(4), nullptr);

  auto copied = ArrayNode::newWithArray(array.list());
  EXPECT_TRUE(copied->isEqual(array));
  EXPECT_NE(copied->objectAtIndex(0), array.objectAtIndex(0));

  ArrayNode::List list;
  list.push_back(std::make_unique<StringNode>("a"));
  list.push_back(nullptr);
  ArrayNode adopted(std::move(list));
  EXPECT_EQ(adopted.size(), 1u);
  EXPECT_EQ(adopted.arrayElementsType(), PListNode::kStringType);
}
