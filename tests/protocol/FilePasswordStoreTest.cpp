#include "protocol/FilePasswordStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

using fotello::FilePasswordStore;
using loomkit::Error;

namespace {

class FilePasswordStoreTest : public ::testing::Test {
 protected:
  fotello::test::TempDir dir_;
  std::string path_ = dir_.file("data/passwords.plist");
  FilePasswordStore store_{path_};
};

TEST_F(FilePasswordStoreTest, ConcurrentWritersOfDifferentLabelsAllKeepTheirItems) {
  std::vector<std::thread> writers;
  for (int t = 0; t < 6; ++t) {
    writers.emplace_back([this, t] {
      FilePasswordStore store(path_);  // each writer as its own program would
      for (int i = 0; i < 10; ++i) {
        std::string label = "label " + std::to_string(t) + "-" + std::to_string(i);
        EXPECT_TRUE(store.addLabel(label, "secret of " + label));
      }
    });
  }
  for (auto& writer : writers) writer.join();
  for (int t = 0; t < 6; ++t) {
    for (int i = 0; i < 10; ++i) {
      std::string label = "label " + std::to_string(t) + "-" + std::to_string(i);
      EXPECT_EQ(store_.passwordForLabel(label), "secret of " + label);
    }
  }
  EXPECT_EQ(fotello::test::readFile(path_).find(".XXXXXX"), std::string::npos);
}

TEST_F(FilePasswordStoreTest, ReplacingNeverLetsAReaderFindTheLabelMissing) {
  ASSERT_TRUE(store_.addLabel("Fotello Local Password", "one"));
  std::atomic<bool> done{false};
  std::atomic<int> missing{0};
  std::thread reader([&] {
    while (!done) {
      Error error;
      if (!store_.passwordForLabel("Fotello Local Password", &error)) ++missing;
    }
  });
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(store_.addLabel("Fotello Local Password", "pw " + std::to_string(i)));
  done = true;
  reader.join();
  EXPECT_EQ(missing, 0);  // a reader that saw no password would let every request in
  EXPECT_EQ(store_.passwordForLabel("Fotello Local Password"), "pw 99");
}

TEST_F(FilePasswordStoreTest, DamagedFileIsReportedAndNeverOverwritten) {
  const struct {
    const char* name;
    std::string contents;
  } files[] = {
      {"not a property list", "this is not XML"},
      {"array root", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>"},
      {"too large", std::string(FilePasswordStore::kMaxFileBytes + 1, ' ')},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    fotello::test::writeFile(path_, file.contents);
    Error error;
    EXPECT_FALSE(store_.passwordForLabel("x", &error));
    EXPECT_TRUE(error.is("AppKeychainErrorDomain", -1)) << error.text();
    EXPECT_EQ(error.description().rfind("error reading password file " + path_ + ": ", 0), 0u) << error.text();
    EXPECT_FALSE(store_.addLabel("x", "y", &error));
    EXPECT_FALSE(store_.deleteLabel("x", &error));
    EXPECT_EQ(fotello::test::readFile(path_), file.contents);
  }
}

TEST_F(FilePasswordStoreTest, ItemWithoutPasswordAndPasswordThatIsNotTextAreRefused) {
  fotello::test::writeFile(path_,
                           "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>x</key><dict>"
                           "<key>account</key><string>Connector</string></dict></dict></plist>");
  Error error;
  EXPECT_FALSE(store_.passwordForLabel("x", &error));
  EXPECT_TRUE(error.is("AppKeychainErrorDomain", -1)) << error.text();
  EXPECT_EQ(error.description(), "keychain item x has no password");

  EXPECT_FALSE(store_.addLabel("y", "\xff\xfe", &error));
  EXPECT_TRUE(error.is("AppKeychainErrorDomain", -1)) << error.text();
  EXPECT_FALSE(store_.passwordForLabel("y", &error));
  EXPECT_EQ(error.code(), -2);
}

}  // namespace
