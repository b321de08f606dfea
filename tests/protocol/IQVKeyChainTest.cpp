#include "protocol/IQVKeyChain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "loomkit/plist/DictNode.h"
#include "protocol/FilePasswordStore.h"
#include "tests/support/TestSupport.h"

using fotello::IQVKeyChain;
using loomkit::Error;

namespace {

class IQVKeyChainTest : public ::testing::Test {
 protected:
  fotello::test::TempDir home_;
  fotello::test::ScopedEnv fotelloHome_{"FOTELLO_HOME", home_.path()};
  std::string path_ = home_.file("passwords.plist");
};

TEST_F(IQVKeyChainTest, LocalPasswordIsNotFoundUntilSetAndGoneAfterDelete) {
  Error error;
  EXPECT_FALSE(IQVKeyChain::localPassword(&error));
  EXPECT_TRUE(error.is("AppKeychainErrorDomain", -2)) << error.text();
  EXPECT_EQ(error.description(), "keychain item Fotello Local Password not found");

  ASSERT_TRUE(IQVKeyChain::setLocalPassword("first", &error)) << error.text();
  EXPECT_EQ(IQVKeyChain::localPassword(), "first");
  ASSERT_TRUE(IQVKeyChain::deleteLocalPassword(&error)) << error.text();
  EXPECT_FALSE(IQVKeyChain::localPassword(&error));
  EXPECT_EQ(error.code(), -2);
  EXPECT_TRUE(IQVKeyChain::deleteLocalPassword(&error)) << error.text();  // nothing left to delete
}

TEST_F(IQVKeyChainTest, SettingTwiceLeavesOneItemWithTheSecondPasswordInAPrivateFile) {
  ASSERT_TRUE(IQVKeyChain::setLocalPassword("first"));
  ASSERT_TRUE(IQVKeyChain::setLocalPassword("second"));
  EXPECT_EQ(IQVKeyChain::localPassword(), "second");

  auto items = loomkit::DictNode::dictNodeWithContentsOfXMLFile(path_);
  ASSERT_TRUE(items);
  EXPECT_EQ(items->orderedKeySet(), std::vector<std::string>{"Fotello Local Password"});
  const loomkit::DictNode* item = items->dictNodeForKey("Fotello Local Password");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->stringNodeForKey("account")->stringValue(), "Connector");
  EXPECT_EQ(item->stringNodeForKey("service")->stringValue(), "Fotello Local Password");
  EXPECT_EQ(item->stringNodeForKey("password")->stringValue(), "second");

  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IQVKeyChainTest, PeerPasswordsLiveUnderTheirOwnLabels) {
  EXPECT_EQ(IQVKeyChain::labelForComputerName("1234-ABCD"), "Fotello: 1234-ABCD");
  ASSERT_TRUE(IQVKeyChain::setPasswordForUUID("for abcd", "1234-ABCD"));
  ASSERT_TRUE(IQVKeyChain::setPasswordForUUID("for ef", "5678-EF"));
  ASSERT_TRUE(IQVKeyChain::setLocalPassword("local"));
  EXPECT_EQ(IQVKeyChain::passwordForLabel("Fotello: 1234-ABCD"), "for abcd");
  EXPECT_EQ(IQVKeyChain::passwordForUUID("5678-EF"), "for ef");
  ASSERT_TRUE(IQVKeyChain::deleteLabel(IQVKeyChain::labelForComputerName("1234-ABCD")));
  Error error;
  EXPECT_FALSE(IQVKeyChain::passwordForUUID("1234-ABCD", &error));
  EXPECT_EQ(error.description(), "keychain item Fotello: 1234-ABCD not found");
  EXPECT_EQ(IQVKeyChain::passwordForUUID("5678-EF"), "for ef");
  EXPECT_EQ(IQVKeyChain::localPassword(), "local");
}

TEST_F(IQVKeyChainTest, PasswordsReadBackExactly) {
  const std::string passwords[] = {
      "p\xc3\xa4sswort \xe2\x9c\x93 \xe6\x97\xa5\xe6\x9c\xac",  // non-ASCII
      "<a href=\"x\">&amp;</a> ]]> 'q'",                          // markup and references
      "  blanks  \t\r\n\x01 control ",                            // white space and controls
      "",
  };
  for (const std::string& password : passwords) {
    Error error;
    ASSERT_TRUE(IQVKeyChain::setLocalPassword(password, &error)) << error.text();
    EXPECT_EQ(IQVKeyChain::localPassword(), password);
  }
}

}  // namespace
