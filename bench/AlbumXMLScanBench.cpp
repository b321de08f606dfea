// Cataloging a large photo library from its index, for bench/album_xml_scan_vs_xmllint.sh.
//   AlbumXMLScanBench generate DIR [PHOTOS]   writes DIR/Library: an AlbumData.xml of PHOTOS photos
//                                             (default 100,000; about 150 MB) in 1,000 rolls and 100
//                                             albums, with a small original file per photo and an
//                                             edited file for every seventh
//   AlbumXMLScanBench prepare LIBRARY         the first scan: hashes every file, saves the catalog
//   AlbumXMLScanBench rescan LIBRARY sax|document
//                                             loads the saved catalog, then times one rescan of the
//                                             unchanged library with it as the previous catalog
//   AlbumXMLScanBench hold LIBRARY            loads the saved catalog twice: the memory of the two
//                                             catalogs a rescan holds at its end (the previous one
//                                             and the new one), without any parsing
// Each of the last three prints "seconds=S cpu=C thread_cpu=T maxrss_kb=K": the scan's wall-clock
// time, its processor time in all threads and in the scanning thread (the scan's own path when
// its helper thread gets a processor of its own), and the process's peak resident memory. The data directory is $FOTELLO_HOME.
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "catalog/AlbumData.h"
#include "catalog/AlbumXMLScanner.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

using loomkit::strprintf;

namespace {

constexpr int kRolls = 1000;
constexpr int kAlbums = 100;

// Buffered writes into a file; stops the program on a failed write.
class Output {
 public:
  explicit Output(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) fail(path);
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~Output() {
    if (std::fclose(file_) != 0) fail("close");
  }
  void put(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail("write");
  }

 private:
  static void fail(const std::string& what) {
    std::perror(what.c_str());
    std::exit(1);
  }
  std::FILE* file_;
};

void writeSmallFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  Output(path).put(contents);
}

std::string keyList(int indent, int first, int count, int step) {
  std::string tabs(static_cast<size_t>(indent), '\t');
  std::string text = tabs + "<key>KeyList</key>\n" + tabs + "<array>\n";
  for (int i = 0; i < count; ++i) text += strprintf("%s\t<string>%d</string>\n", tabs.c_str(), first + i * step);
  return text + tabs + "</array>\n";
}

// One photo's dictionary, shaped like a real library's: paths, dates, metadata and keywords.
std::string photoEntry(const std::string& library, int key, int photos) {
  const int perRoll = photos / kRolls > 0 ? photos / kRolls : 1;
  const int roll = (key - 1) / perRoll + 1;
  const int year = 2004 + roll % 8;
  const std::string folder = strprintf("%d/%02d/Roll %d", year, roll % 12 + 1, roll);
  const std::string name = strprintf("IMG_%05d.JPG", key);
  const bool edited = key % 7 == 0;
  const std::string original = library + "/Originals/" + folder + "/" + name;
  const std::string modified = library + "/Modified/" + folder + "/" + name;
  std::string e = strprintf("\t\t<key>%d</key>\n\t\t<dict>\n", key);
  auto string = [&](const char* k, const std::string& v) { e += strprintf("\t\t\t<key>%s</key>\n\t\t\t<string>%s</string>\n", k, v.c_str()); };
  auto real = [&](const char* k, double v) { e += strprintf("\t\t\t<key>%s</key>\n\t\t\t<real>%.6f</real>\n", k, v); };
  auto integer = [&](const char* k, long v) { e += strprintf("\t\t\t<key>%s</key>\n\t\t\t<integer>%ld</integer>\n", k, v); };
  string("Caption", strprintf("Summer afternoon at the lake, picture %d", key));
  string("Title", strprintf("Lake %d, the jetty and the boats", key));
  string("Comment", key % 3 == 0 ? "Taken with the small camera; colours a little warm" : "Taken with the big camera");
  string("FileName", name);
  string("Place", strprintf("North shore, %d m from the old boathouse", key % 900));
  string("GUID", strprintf("%08X-%04X-%04X-%04X-%012X", key * 2654435761u, key % 65536, (key * 7) % 65536,
                           (key * 13) % 65536, key * 40503u));
  string("MediaType", "Image");
  string("ImageType", "JPEG");
  string("ImagePath", edited ? modified : original);
  if (edited) string("OriginalPath", original);
  string("ThumbPath", library + "/Data/" + folder + "/" + strprintf("IMG_%05d.jpg", key));
  integer("Rating", key % 6);
  integer("Roll", roll);
  real("DateAsTimerInterval", 100000000.0 + key * 3600.5);
  real("ModDateAsTimerInterval", 200000000.0 + key * 60.25);
  real("MetaModDateAsTimerInterval", 200000100.0 + key * 60.25);
  real("Aspect Ratio", key % 4 == 0 ? 0.75 : 1.333333);
  e += "\t\t\t<key>Flagged</key>\n\t\t\t<false/>\n";
  e += "\t\t\t<key>Keywords</key>\n\t\t\t<array>\n";
  for (int k = 0; k < 3; ++k) e += strprintf("\t\t\t\t<integer>%d</integer>\n", (key + k) % 50 + 1);
  e += "\t\t\t</array>\n";
  e += "\t\t\t<key>Last Shared</key>\n\t\t\t<date>2011-03-04T05:06:07Z</date>\n";
  e += "\t\t</dict>\n";
  return e;
}

int generate(const std::string& dir, int photos) {
  const std::string library = std::filesystem::absolute(dir).string() + "/Library";
  std::filesystem::create_directories(library);
  const int perRoll = photos / kRolls > 0 ? photos / kRolls : 1;
  {
    Output index(library + "/AlbumData.xml");
    index.put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n");
    index.put("\t<key>Application Version</key>\n\t<string>9.4.1</string>\n");
    index.put("\t<key>Archive Path</key>\n\t<string>" + library + "</string>\n");
    index.put("\t<key>Last Saved</key>\n\t<date>2024-05-01T10:00:00Z</date>\n");
    index.put("\t<key>Library Fingerprint</key>\n\t<data>RdpmU2k+ObhM4FBZ4yHkyX2OmqQ=</data>\n");
    index.put("\t<key>List of Albums</key>\n\t<array>\n");
    index.put("\t\t<dict>\n\t\t\t<key>AlbumId</key>\n\t\t\t<integer>1</integer>\n\t\t\t<key>AlbumName</key>\n"
              "\t\t\t<string>Photos</string>\n\t\t\t<key>Master</key>\n\t\t\t<true/>\n" +
              keyList(3, 1, photos, 1) + "\t\t</dict>\n");
    for (int a = 2; a <= kAlbums; ++a) {
      index.put(strprintf("\t\t<dict>\n\t\t\t<key>AlbumId</key>\n\t\t\t<integer>%d</integer>\n"
                          "\t\t\t<key>AlbumName</key>\n\t\t\t<string>Album %d</string>\n",
                          a, a) +
                keyList(3, a, photos / kAlbums, kAlbums - 1) + "\t\t</dict>\n");
    }
    index.put("\t</array>\n\t<key>List of Rolls</key>\n\t<array>\n");
    for (int r = 1; r <= kRolls; ++r) {
      index.put(strprintf("\t\t<dict>\n\t\t\t<key>RollID</key>\n\t\t\t<integer>%d</integer>\n"
                          "\t\t\t<key>RollName</key>\n\t\t\t<string>Roll %d</string>\n"
                          "\t\t\t<key>RollDateAsTimerInterval</key>\n\t\t\t<real>%.6f</real>\n"
                          "\t\t\t<key>KeyPhotoKey</key>\n\t\t\t<integer>%d</integer>\n"
                          "\t\t\t<key>PhotoCount</key>\n\t\t\t<integer>%d</integer>\n",
                          r, r, 100000000.0 + r * 86400.0, (r - 1) * perRoll + 1, perRoll) +
                keyList(3, (r - 1) * perRoll + 1, perRoll, 1) + "\t\t</dict>\n");
    }
    index.put("\t</array>\n\t<key>Master Image List</key>\n\t<dict>\n");
    for (int key = 1; key <= photos; ++key) index.put(photoEntry(library, key, photos));
    index.put("\t</dict>\n</dict>\n</plist>\n");
  }
  // The files: a few distinct bytes each (their digests are of all their bytes).
  for (int key = 1; key <= photos; ++key) {
    const int roll = (key - 1) / perRoll + 1;
    const std::string folder = strprintf("%d/%02d/Roll %d", 2004 + roll % 8, roll % 12 + 1, roll);
    const std::string name = strprintf("IMG_%05d.JPG", key);
    writeSmallFile(library + "/Originals/" + folder + "/" + name, strprintf("original photo %d\n", key));
    if (key % 7 == 0) writeSmallFile(library + "/Modified/" + folder + "/" + name, strprintf("edited photo %d\n", key));
  }
  struct stat st;
  ::stat((library + "/AlbumData.xml").c_str(), &st);
  std::printf("%s: %d photos, index of %lld bytes\n", library.c_str(), photos, static_cast<long long>(st.st_size));
  return 0;
}

long maxRSSKilobytes() {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::unique_ptr<fotello::AlbumData> loadSaved(const std::string& library) {
  loomkit::Error error;
  auto catalog = fotello::AlbumData::newFromCacheForIPhotoLibraryPath(library, &error);
  if (!catalog) {
    std::fprintf(stderr, "cannot load the saved catalog: %s\n", error.text().c_str());
    std::exit(1);
  }
  return catalog;
}

// CPU seconds of the process (all threads) and of the calling thread.
double processCPUSeconds() {
  timespec t;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double threadCPUSeconds() {
  timespec t;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int scan(const std::string& library, const fotello::AlbumData* previous, bool sax) {
  const double processStart = processCPUSeconds();
  const double threadStart = threadCPUSeconds();
  auto start = std::chrono::steady_clock::now();
  fotello::AlbumXMLScanner scanner(library);
  loomkit::Error error;
  std::unique_ptr<fotello::AlbumData> catalog = scanner.scan(previous, sax, &error);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = processCPUSeconds() - processStart;
  const double threadCPU = threadCPUSeconds() - threadStart;
  if (!catalog) {
    std::fprintf(stderr, "scan failed: %s\n", error.text().c_str());
    return 1;
  }
  std::printf("seconds=%.3f cpu=%.3f thread_cpu=%.3f maxrss_kb=%ld photos=%zu\n", seconds, cpu, threadCPU,
              maxRSSKilobytes(), catalog->photoCount());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  loomkit::Log::setLevel(loomkit::Log::kNone);
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "generate") == 0) {
    return generate(argv[2], argc == 4 ? std::atoi(argv[3]) : 100000);
  }
  if (argc == 3 && std::strcmp(argv[1], "prepare") == 0) return scan(argv[2], nullptr, true);
  if (argc == 4 && std::strcmp(argv[1], "rescan") == 0) {
    std::unique_ptr<fotello::AlbumData> previous = loadSaved(argv[2]);
    return scan(argv[2], previous.get(), std::strcmp(argv[3], "sax") == 0);
  }
  if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
    std::unique_ptr<fotello::AlbumData> previous = loadSaved(argv[2]);
    std::unique_ptr<fotello::AlbumData> next = loadSaved(argv[2]);
    std::printf("seconds=0 cpu=0 thread_cpu=0 maxrss_kb=%ld photos=%zu\n", maxRSSKilobytes(), next->photoCount());
    return 0;
  }
  std::fprintf(stderr, "usage: %s generate DIR [PHOTOS] | prepare LIBRARY | rescan LIBRARY sax|document | hold LIBRARY\n",
               argv[0]);
  return 2;
}
