#include "protocol/IQVAgentStatus.h"

#include <gtest/gtest.h>

#include <limits>

#include "catalog/AlbumData.h"
#include "loomkit/shared/Computer.h"
#include "protocol/AppConfig.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::AlbumData;
using fotello::AppConfig;
using fotello::IQVAgentStatus;
using fotello::test::digest;
using fotello::test::photoWith;
using loomkit::Bytes;
using loomkit::Error;

namespace {

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

Bytes item(std::string_view text) {
  std::string out(1, static_cast<char>(text.size()));
  out += text;
  return Bytes(out.begin(), out.end());
}

// A record made of the given items, each as its text (nullopt: the absent item 00).
Bytes record(std::initializer_list<std::optional<std::string_view>> items) {
  Bytes out;
  for (const auto& i : items) {
    Bytes one = i ? item(*i) : Bytes{0};
    out.insert(out.end(), one.begin(), one.end());
  }
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class IQVAgentStatusTest : public ::testing::Test {
 protected:
  IQVAgentStatusTest() { config_.setUuid("11111111-2222-3333-4444-555555555555"); }

  // The three identity items every builder ends with.
  Bytes identity(const IQVAgentStatus& status) const {
    return concat({item(config_.uuid()), item(loomkit::Computer::name()), item(status.userName())});
  }

  fotello::test::TempDir dir_;
  AppConfig config_{dir_.file("config/app_config.plist")};
};

TEST_F(IQVAgentStatusTest, CompleteCatalogRecord) {
  std::vector<fotello::Photo> photos{photoWith("1", digest('a'), std::nullopt),
                                     photoWith("2", digest('b'), digest('c'))};
  AlbumData catalog(dir_.path(), std::move(photos), {}, {}, 100.9);
  ASSERT_TRUE(catalog.sha1().has_value());

  auto status = IQVAgentStatus::newWithAlbumData(catalog, config_);
  EXPECT_EQ(status->currentPhoto(), 2u);
  EXPECT_EQ(status->totalPhotos(), 2u);
  EXPECT_FALSE(status->userName().empty());
  Bytes expected = concat({bytes({0x01, 0x36, 0x03, 0x31, 0x30, 0x30, 0x00, 0x01, 0x30, 0x00}), item(*catalog.sha1()),
                           bytes({0x01, 0x32, 0x01, 0x32}), identity(*status)});
  Bytes data = status->txtRecordData();
  EXPECT_EQ(data, expected);

  Error error;
  auto back = IQVAgentStatus::newWithTXTRecordData(data, &error);
  ASSERT_TRUE(back) << error.text();
  EXPECT_EQ(back->scanDate(), std::optional<double>(100.0));
  EXPECT_FALSE(back->scanError());
  EXPECT_EQ(back->albumDataSHA1(), catalog.sha1());
  EXPECT_EQ(back->totalPhotos(), 2u);
  EXPECT_EQ(back->uuid(), config_.uuid());
  EXPECT_EQ(back->computerName(), loomkit::Computer::name());
  EXPECT_EQ(back->userName(), status->userName());
}

TEST_F(IQVAgentStatusTest, RunningAndFailedScanRecords) {
  auto running = IQVAgentStatus::newWithCurrentPhoto(5, 10, config_);
  EXPECT_EQ(running->txtRecordData(),
            concat({record({"6", "0", std::nullopt, "0", std::nullopt, std::nullopt, "5", "10"}), identity(*running)}));
  EXPECT_NE(running->description().find("albumDataSHA1=(null) current=5 total=10 error=(null) scandate=(null)"),
            std::string::npos)
      << running->description();

  // A negative code keeps its sign on the way through, so a peer reads the code that was sent.
  auto failed = IQVAgentStatus::newWithScanDate(250.5, Error("AlbumSetErrorDomain", -7, "abort requested"), config_);
  Bytes data = failed->txtRecordData();
  EXPECT_EQ(data, concat({record({"6", "250", "AlbumSetErrorDomain", "-7", "abort requested", std::nullopt, "0", "0"}),
                          identity(*failed)}));
  auto back = IQVAgentStatus::newWithTXTRecordData(data);
  ASSERT_TRUE(back);
  ASSERT_TRUE(back->scanError());
  EXPECT_EQ(*back->scanError(), Error("AlbumSetErrorDomain", -7, "abort requested"));
  EXPECT_EQ(back->scanDate(), std::optional<double>(250.0));
}

TEST_F(IQVAgentStatusTest, LongStringsAreCutAtCharacterBoundaries) {
  struct Case {
    std::string description;
    size_t expectedLength;
  } cases[] = {
      {std::string(255, 'a'), 255},                 // fits exactly
      {std::string(300, 'a'), 255},                 // plain cut
      {std::string(254, 'a') + "\xC3\xA9", 254},    // a 2-byte character across the limit
      {std::string(253, 'a') + "\xE2\x82\xAC", 253},  // a 3-byte one
      {std::string(252, 'a') + "\xF0\x9F\x93\xB7x", 252},  // a 4-byte one
  };
  for (const Case& c : cases) {
    IQVAgentStatus status(std::nullopt, Error("D", 1, c.description), std::nullopt, 0, 0, "u", "c", "n");
    auto back = IQVAgentStatus::newWithTXTRecordData(status.txtRecordData());
    ASSERT_TRUE(back) << c.description.size();
    ASSERT_TRUE(back->scanError()) << "cut text must stay valid UTF-8, length " << c.description.size();
    EXPECT_EQ(back->scanError()->description(), c.description.substr(0, c.expectedLength));
    EXPECT_EQ(back->userName(), "n");
  }
}

TEST_F(IQVAgentStatusTest, ParsesOptionalAndOddValues) {
  const std::string_view big = "99999999999999999999";
  struct Case {
    const char* name;
    Bytes data;
    bool hasError;
    uint64_t total;
    std::optional<double> date;
  } cases[] = {
      {"domain without description", record({"6", "0", "Dom", "3", std::nullopt, "x", "1", "1", "u", "c", "n"}),
       false, 1, std::nullopt},
      {"description without domain", record({"6", "0", std::nullopt, "3", "text", "x", "1", "1", "u", "c", "n"}),
       false, 1, std::nullopt},
      {"20-digit total clamped", record({"6", "0", std::nullopt, "0", std::nullopt, "x", "1", big, "u", "c", "n"}),
       false, static_cast<uint64_t>(std::numeric_limits<int64_t>::max()), std::nullopt},
      {"negative total reads as 0", record({"6", "0", std::nullopt, "0", std::nullopt, "x", "1", "-4", "u", "c", "n"}),
       false, 0, std::nullopt},
      {"blanks, sign and trailing text", record({"6", " +77s", "D", "-9", "d", "x", "1", "\t12abc", "u", "c", "n"}),
       true, 12, 77.0},
      {"bytes after the last item ignored",
       concat({record({"6", "0", std::nullopt, "0", std::nullopt, "x", "1", "2", "u", "c", "n"}), bytes({9, 1, 2})}),
       false, 2, std::nullopt},
  };
  for (const Case& c : cases) {
    Error error;
    auto status = IQVAgentStatus::newWithTXTRecordData(c.data, &error);
    ASSERT_TRUE(status) << c.name << ": " << error.text();
    EXPECT_EQ(status->scanError().has_value(), c.hasError) << c.name;
    EXPECT_EQ(status->totalPhotos(), c.total) << c.name;
    EXPECT_EQ(status->scanDate(), c.date) << c.name;
    EXPECT_EQ(status->userName(), "n") << c.name;
  }

  // Text that is not UTF-8 is an absent value, not a failure.
  Bytes badUtf8 = record({"6", "0", std::nullopt, "0", std::nullopt, "\xC3(", "1", "1", "u", "\xFF", "n"});
  auto status = IQVAgentStatus::newWithTXTRecordData(badUtf8);
  ASSERT_TRUE(status);
  EXPECT_FALSE(status->albumDataSHA1());
  EXPECT_EQ(status->computerName(), "");
}

TEST_F(IQVAgentStatusTest, RejectsBrokenRecords) {
  Bytes full = record({"6", "0", std::nullopt, "0", std::nullopt, "x", "1", "2", "u", "c", "n"});
  Bytes afterItem7 = record({"6", "0", std::nullopt, "0", std::nullopt, "x", "1"});
  struct Case {
    const char* name;
    Bytes data;
    int64_t code;
    std::string description;
  } cases[] = {
      {"empty", {}, -1, "Error reading status: not enough bytes"},
      {"version 5", record({"5", "0"}), -3, "Invalid Fotello version (5)"},
      {"version absent", record({std::nullopt}), -1, "Error reading status: unable to parse long long from '(null)'"},
      {"version not a number", record({"six"}), -1, "Error reading status: unable to parse long long from 'six'"},
      {"cut after item 7", afterItem7, -1, "Error reading status: not enough bytes"},
      {"last item runs past the end", Bytes(full.begin(), full.end() - 1), -1,
       "Error reading status: not enough bytes for string"},
      {"length byte beyond a short record", bytes({0x01, '6', 0xFF, '1'}), -1,
       "Error reading status: not enough bytes for string"},
      {"count that is not a number", record({"6", "0", std::nullopt, "0", std::nullopt, "x", "one"}), -1,
       "Error reading status: unable to parse long long from 'one'"},
      {"sign without digits", record({"6", "-"}), -1, "Error reading status: unable to parse long long from '-'"},
  };
  for (const Case& c : cases) {
    Error error;
    EXPECT_FALSE(IQVAgentStatus::newWithTXTRecordData(c.data, &error)) << c.name;
    EXPECT_EQ(error, Error(std::string(IQVAgentStatus::errorDomain()), c.code, c.description)) << c.name;
  }
}

TEST_F(IQVAgentStatusTest, ParseFailuresAreLogged) {
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  EXPECT_FALSE(IQVAgentStatus::newWithTXTRecordData(record({"5"})));
  EXPECT_TRUE(log.contains("invalid data version 5; expected 6"));
  EXPECT_FALSE(IQVAgentStatus::newWithTXTRecordData(Bytes{}));
  EXPECT_TRUE(log.contains("ERROR [thread"));
  EXPECT_TRUE(log.contains("error reading dataVersion from TXT record data: not enough bytes"));
  EXPECT_TRUE(IQVAgentStatus::newWithTXTRecordData(
      record({"6", "0", std::nullopt, "0", std::nullopt, std::nullopt, "1", "2", "u", "c", "n"})));
  EXPECT_TRUE(log.contains("initWithTXTRecordData <01360130 00013000"));
  EXPECT_TRUE(log.contains("loaded from TXT record: <IQVAgentStatus albumDataSHA1=(null) current=1 total=2"));
}

}  // namespace
