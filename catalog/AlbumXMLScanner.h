// Turns a photo library's index "AlbumData.xml" into its catalog: photos with fresh digests,
// albums and rolls, saved as the catalog file, with the library digest set brought up to date.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "catalog/AlbumData.h"
#include "catalog/AlbumXMLScannerDelegate.h"
#include "catalog/PhotoFileChecker.h"
#include "catalog/SHA1DatFile.h"
#include "loomkit/plist/XMLPlistParserDelegate.h"
#include "loomkit/shared/Error.h"

namespace loomkit {
class DictNode;
}

namespace fotello {

// Domains of the scan's errors: the index ("%@ not found" -2, a whole-document parse failure -1,
// an event-parser failure with the XML parser's code), and the abort (-7 "abort requested").
inline constexpr std::string_view kAlbumXMLScannerErrorDomain = "AlbumXMLScannerErrorDomain";
inline constexpr std::string_view kAlbumSetErrorDomain = "AlbumSetErrorDomain";

// A scanner serves one scan on one thread (the cataloging thread): it is made with the library
// path, given a delegate, scanned once and dropped. Two readers fill it. The event reader
// (XMLPlistParser) streams the index and keeps every photo of the photo table and the non-master
// albums, but no rolls and no roll ids. The whole-document reader (PListDocumentReader) also
// reads the rolls, keeps only photos whose roll is among them, and keeps master albums. Photos
// taken over from the previous catalog by key keep their digests, so only changed files are
// hashed again.
class AlbumXMLScanner final : private loomkit::XMLPlistParserDelegate {
 public:
  // How often a long digest refresh saves what it has as an incomplete catalog.
  static constexpr std::chrono::seconds kIncompleteSaveInterval{120};

  explicit AlbumXMLScanner(std::string iPhotoLibraryPath);

  // The receiver of the progress questions; not owned; null asks nothing.
  void setDelegate(AlbumXMLScannerDelegate* delegate) { delegate_ = delegate; }
  // Replaces kIncompleteSaveInterval (tests).
  void setIncompleteSaveInterval(std::chrono::duration<double> interval) { incompleteSaveInterval_ = interval; }

  // Parses the index with the chosen reader, refreshes every photo's digests (a photo whose file
  // is missing, empty or unreadable is left out: "error updating SHA1s for %@: %@", "ignoring
  // %@"), saves the catalog with the scan's start as its date and adds the digests to the library
  // digest set. Save failures are logged and the catalog still returned. Fails, saving nothing
  // more, when the index is missing (-2, before any parsing), cannot be parsed, or the delegate
  // answers false (-7); an incomplete catalog saved along the way stays.
  std::unique_ptr<AlbumData> scan(const AlbumData* previous, bool useSAXParser, loomkit::Error* error = nullptr);

  // Adds every original and modified digest of the photos to the library's "library_sha1s.dat":
  // load, add, save (no write when the file holds them all already). Fails with the digest set
  // file's error.
  bool updateLibrarySHA1sFile(const std::vector<Photo>& photos, loomkit::Error* error = nullptr);

  const std::string& albumXMLPath() const { return albumXMLPath_; }
  const std::string& iPhotoLibraryPath() const { return iPhotoLibraryPath_; }

 private:
  using Key = loomkit::XMLPlistParserDelegate::Key;

  bool parseWithSAXParser(loomkit::Error* error);
  bool parseWithDocumentReader(loomkit::Error* error);
  // Refreshes the digests of parsedPhotos_, dropping the photos that fail; false on abort.
  bool updateSHA1s(loomkit::Error* error);
  void saveIncompleteCatalog(size_t done, size_t next);
  // Starts the file checker, which first loads librarySHA1s_, unless it runs already.
  void startChecker();
  // The photos' digests that the loaded digest set file lacks.
  static SHA1DatFile::SHA1Set missingSHA1s(const SHA1DatFile& file, const std::vector<Photo>& photos);
  // Adds them and saves the file; with none missing the file stays as it is.
  static bool addSHA1s(SHA1DatFile& file, const SHA1DatFile::SHA1Set& missing, loomkit::Error* error);
  // The previous catalog's photo of the key, copied, or a new photo with the key.
  Photo photoForKey(Key key) const;

  // Event-reader calls.
  void didStartArray(loomkit::XMLPlistParser&, Key) override { ++treeLevel_; }
  void didEndArray(loomkit::XMLPlistParser&, Key) override { leaveLevel(); }
  void didStartArrayInArray(loomkit::XMLPlistParser&, Key) override { ++treeLevel_; }
  void didEndArrayInArray(loomkit::XMLPlistParser&, Key) override { leaveLevel(); }
  void didStartDict(loomkit::XMLPlistParser& parser, Key key) override;
  void didEndDict(loomkit::XMLPlistParser& parser, Key key) override;
  void didStartDictInArray(loomkit::XMLPlistParser& parser, Key key) override;
  void didEndDictInArray(loomkit::XMLPlistParser& parser, Key key) override;
  void foundString(loomkit::XMLPlistParser& parser, std::string_view value, Key key) override;
  void foundInteger(loomkit::XMLPlistParser& parser, int64_t value, Key key) override;
  void foundBoolean(loomkit::XMLPlistParser& parser, bool value, Key key) override;
  void foundReal(loomkit::XMLPlistParser& parser, double value, Key key) override;
  void foundStringInArray(loomkit::XMLPlistParser& parser, std::string_view value, Key key) override;
  void parseErrorOccurred(loomkit::XMLPlistParser& parser, const loomkit::Error& error, int64_t line,
                          int64_t column) override;
  void leaveLevel() {
    if (treeLevel_ > 0) --treeLevel_;
  }
  // The value setter of the open photo, else of the open album at level 2.
  template <class Set>
  void setValue(Key key, Set set);

  AlbumXMLScannerDelegate* delegate_ = nullptr;
  std::string albumXMLPath_;
  std::string iPhotoLibraryPath_;
  std::unordered_map<std::string_view, const Photo*> previousPhotosByIPhotoKey_;  // into the previous catalog
  std::vector<Photo> parsedPhotos_;
  std::vector<Album> parsedAlbums_;
  std::vector<Roll> parsedRolls_;
  bool inMasterImageList_ = false;
  std::optional<Photo> lastPhoto_;
  std::optional<Album> lastAlbum_;
  bool parseSucceeded_ = false;
  loomkit::Error parseError_;
  uint64_t treeLevel_ = 0;  // open containers below the root dictionary
  // The file checker's thread works on librarySHA1s_, sha1sLoaded_ and sha1sError_ from its
  // start until finish(); the scanning thread does not touch them in that time.
  std::optional<PhotoFileChecker> checker_;  // stamps the parsed photos' files during the parse
  std::vector<Photo::FileStamps> stamps_;    // by index of parsedPhotos_ as parsed
  std::optional<SHA1DatFile> librarySHA1s_;  // the library digest set during a scan
  bool sha1sLoaded_ = false;
  loomkit::Error sha1sError_;
  std::chrono::duration<double> incompleteSaveInterval_ = kIncompleteSaveInterval;
};

}  // namespace fotello
