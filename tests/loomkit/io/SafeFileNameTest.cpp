#include "loomkit/io/SafeFileName.h"

#include <gtest/gtest.h>

#include "loomkit/io/Utf8.h"

namespace loomkit {
namespace {

TEST(SafeFileNameTest, EveryHostileNameBecomesOneHarmlessComponent) {
  struct Case {
    std::string name;
    std::string expected;
  };
  const Case cases[] = {
      {"IMG_0001.JPG", "IMG_0001.JPG"},
      {"Summer in Århus 🌞.jpg", "Summer in Århus 🌞.jpg"},
      {"", "photo"},
      {".", "_"},
      {"..", "_."},
      {"../../etc/passwd", "_._.._etc_passwd"},
      {"/etc/cron.d/x", "_etc_cron.d_x"},
      {"a\\b", "a_b"},
      {".bashrc", "_bashrc"},
      {std::string("a\0b", 3), "a_b"},
      {"line\nbreak\x7f", "line_break_"},
      {"bad\xff\xfe.jpg", "bad__.jpg"},
      {"\xe2\x82", "__"},       // a character cut short
      {"\xc0\xaf.jpg", "__.jpg"},  // an overlong "/"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeFileName::component(c.name, "photo"), c.expected) << c.name;
  }
}

TEST(SafeFileNameTest, LongNamesAreCutOnACharacterBoundaryKeepingTheExtension) {
  std::string longName;
  for (int i = 0; i < 150; ++i) longName += "é";  // 300 bytes
  std::string cut = SafeFileName::component(longName + ".jpeg", "photo");
  EXPECT_LE(cut.size(), SafeFileName::kMaxBytes);
  EXPECT_TRUE(Utf8::isValid(cut)) << cut;
  EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg");

  std::string noExtension = SafeFileName::component(std::string(500, 'x'), "photo");
  EXPECT_EQ(noExtension, std::string(SafeFileName::kMaxBytes, 'x'));

  // A "long extension" is only the tail of a long name, and is cut with it.
  std::string dotted = SafeFileName::component("a." + std::string(300, 'y'), "photo");
  EXPECT_EQ(dotted.size(), SafeFileName::kMaxBytes);
  EXPECT_EQ(dotted.substr(0, 2), "a.");
}

}  // namespace
}  // namespace loomkit
