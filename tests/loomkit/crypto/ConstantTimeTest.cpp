#include "loomkit/crypto/ConstantTime.h"

#include <gtest/gtest.h>

#include "loomkit/crypto/MD5Hash.h"

using loomkit::ConstantTime;

TEST(ConstantTimeTest, EqualOnlyForTheSameBytes) {
  const std::string digest = loomkit::MD5Hash::hashString("secret");
  std::string upper = digest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string lastDiffers = digest;
  lastDiffers.back() ^= 1;
  const struct {
    std::string a, b;
    bool equal;
  } cases[] = {
      {digest, digest, true},
      {"", "", true},
      {digest, upper, false},  // a digest in upper case is a different text
      {digest, lastDiffers, false},
      {digest, digest.substr(0, 31), false},
      {digest, "", false},
      {std::string("a\0b", 3), std::string("a\0c", 3), false},  // bytes after a NUL count
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConstantTime::equals(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}
