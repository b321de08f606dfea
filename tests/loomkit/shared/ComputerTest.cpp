#include "loomkit/shared/Computer.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>

#include "loomkit/shared/NetServiceDescriptions.h"
#include "tests/support/TestSupport.h"

using fotello::test::TempDir;
using loomkit::Computer;

namespace {

std::string hostName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

ino_t inodeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Checks that path holds a 16 x 16 RGBA TIFF of a picture on a transparent background.
void expectComputerIconTiff(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  ASSERT_NE(tiff, nullptr);
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, extraCount = 0;
  uint16_t* extra = nullptr;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  EXPECT_EQ(width, 16u);
  EXPECT_EQ(height, 16u);
  EXPECT_EQ(bits, 8);
  EXPECT_EQ(samples, 4);
  EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
  EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
  ASSERT_EQ(extraCount, 1);
  EXPECT_EQ(extra[0], EXTRASAMPLE_ASSOCALPHA);
  uint32_t pixels[16 * 16];
  ASSERT_EQ(TIFFReadRGBAImageOriented(tiff, 16, 16, pixels, ORIENTATION_TOPLEFT, 0), 1);
  TIFFClose(tiff);
  auto alpha = [&](int x, int y) { return TIFFGetA(pixels[y * 16 + x]); };
  for (int corner : {0, 15}) {
    EXPECT_EQ(alpha(corner, 0), 0u);
    EXPECT_EQ(alpha(corner, 15), 0u);
  }
  EXPECT_EQ(alpha(8, 6), 255u);  // the screen
  EXPECT_GT(TIFFGetB(pixels[6 * 16 + 8]), TIFFGetR(pixels[6 * 16 + 8]));
  EXPECT_EQ(alpha(8, 12), 255u);  // the stand
}

}  // namespace

TEST(ComputerTest, NameComesFromPrettyHostnameElseTheHostName) {
  struct Case {
    const char* machineInfo;  // nullptr: no file
    std::string name;
  } cases[] = {
      {nullptr, hostName()},
      {"", hostName()},
      {"ICON_NAME=computer-laptop\nCHASSIS=laptop\n", hostName()},
      {"PRETTY_HOSTNAME=\n", hostName()},
      {"PRETTY_HOSTNAME=Studio\n", "Studio"},
      {"# PRETTY_HOSTNAME=Commented\nPRETTY_HOSTNAME=Plain  \n", "Plain"},
      {"PRETTY_HOSTNAME=\"Anna's Laptop\"\nCHASSIS=laptop\n", "Anna's Laptop"},
      {"PRETTY_HOSTNAME='Say \"cheese\" \\o/'", "Say \"cheese\" \\o/"},
      {"PRETTY_HOSTNAME=\"a \\\"b\\\" \\\\ \\$c \\n\"", "a \"b\" \\ $c \\n"},
      {"PRETTY_HOSTNAME=Bob\\'s\\ Mac", "Bob's Mac"},
      {"PRETTY_HOSTNAME=  \"Mixed\"' parts'\\ here  \r\n", "Mixed parts here"},
      {"PRETTY_HOSTNAME=\"line one\\\ncontinued\"", "line onecontinued"},
      {"PRETTY_HOSTNAME=First\n; comment\n  PRETTY_HOSTNAME = \"Second\"\n", "Second"},
      {"PRETTY_HOSTNAME=\"B\xC3\xBC" "ro\"\n", "B\xC3\xBC" "ro"},
      {"PRETTY_HOSTNAME_OLD=No\nXPRETTY_HOSTNAME=No\n", hostName()},
      {"PRETTY_HOSTNAME=\"unterminated", "unterminated"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machineInfo ? c.machineInfo : "(no file)");
    std::string path = dir.file("machine-info");
    ::unlink(path.c_str());
    if (c.machineInfo) fotello::test::writeFile(path, c.machineInfo);
    EXPECT_EQ(Computer::name(path), c.name);
  }
}

TEST(ComputerTest, NameWithoutAnyHostNameIsUnknownComputerName) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A private host-name namespace with an empty host name, then the kernel's "(none)";
    // needs CAP_SYS_ADMIN.
    std::string result = "(skipped)";
    if (::unshare(CLONE_NEWUTS) == 0 && ::sethostname("", 0) == 0) {
      result = Computer::name("/nonexistent/machine-info");
      if (::sethostname("(none)", 6) == 0) result += "|" + Computer::name("/nonexistent/machine-info");
    }
    ssize_t ignored = ::write(pipeFds[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  char buffer[256] = {};
  ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer - 1);
  ::close(pipeFds[0]);
  ::waitpid(pid, nullptr, 0);
  std::string result(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  if (result == "(skipped)") GTEST_SKIP() << "no permission for a private host-name namespace";
  EXPECT_EQ(result, "unknown-computer-name|unknown-computer-name");
}

TEST(ComputerTest, IconFileIsWrittenOnceAndAgainAfterDeletion) {
  TempDir dir;
  std::string path = Computer::computerImageDataPath(dir.path());
  EXPECT_EQ(path, dir.path() + "/computerIcon.dat");

  loomkit::Error error;
  EXPECT_EQ(Computer::imageData(dir.path(), &error), std::nullopt);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT)) << error.text();

  Computer::storeImageData(dir.path());
  expectComputerIconTiff(path);
  std::optional<loomkit::Bytes> bytes = Computer::imageData(dir.path());
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), fotello::test::readFile(path));

  // An existing file is left alone, whatever it holds.
  ino_t first = inodeOf(path);
  fotello::test::writeFile(path, "kept");
  Computer::storeImageData(dir.path());
  EXPECT_EQ(inodeOf(path), first);
  EXPECT_EQ(fotello::test::readFile(path), "kept");

  ASSERT_EQ(::unlink(path.c_str()), 0);
  Computer::storeImageData(dir.path());
  expectComputerIconTiff(path);
  EXPECT_EQ(Computer::imageData(dir.path()), bytes);
}

TEST(ComputerTest, IconWriteFailureIsLoggedAndIconReadsAreBounded) {
  TempDir dir;
  std::string missing = dir.file("no-such-directory");
  {
    fotello::test::LogCapture log(loomkit::Log::kError);
    Computer::storeImageData(missing);
    EXPECT_TRUE(log.contains("error writing " + missing + "/computerIcon.dat: "));
  }
  EXPECT_FALSE(fotello::test::fileExists(Computer::computerImageDataPath(missing)));

  loomkit::Error error;
  fotello::test::writeFile(dir.file("elsewhere"), "secret");
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), Computer::computerImageDataPath(dir.path()).c_str()), 0);
  EXPECT_EQ(Computer::imageData(dir.path(), &error), std::nullopt);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ELOOP)) << error.text();

  ::unlink(Computer::computerImageDataPath(dir.path()).c_str());
  fotello::test::writeFile(Computer::computerImageDataPath(dir.path()), std::string(1024 * 1024 + 1, 'x'));
  EXPECT_EQ(Computer::imageData(dir.path(), &error), std::nullopt);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, EFBIG)) << error.text();
}

TEST(NetServiceDescriptionsTest, KnownCodesHaveTheirSentenceAndOthersTheUnknownText) {
  struct Case {
    int64_t code;
    const char* text;
  } cases[] = {
      {-72000, "An unknown error occurred."},
      {-72001,
       "The service could not be published because the name is already in use. The name could be in use locally "
       "or on another system."},
      {-72002, "The service could not be found on the network."},
      {-72003,
       "The net service cannot process the request at this time. No additional information about the network state "
       "is known."},
      {-72004, "An invalid argument was used when creating the NSNetService object."},
      {-72005, "The client canceled the action."},
      {-72006, "The net service was improperly configured."},
      {-72007, "The net service has timed out."},
      {0, "unknown NSNetService error"},
      {72001, "unknown NSNetService error"},
      {-71999, "unknown NSNetService error"},
      {-72008, "unknown NSNetService error"},
      {INT64_MIN, "unknown NSNetService error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(loomkit::NetServiceDescriptions::descriptionForNetServicesError(c.code), c.text) << c.code;
  }
}
