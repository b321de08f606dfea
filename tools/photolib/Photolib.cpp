#include "tools/photolib/Photolib.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Format.h"
#include "protocol/Defaults.h"
#include "tools/photolib/LibraryIndex.h"
#include "tools/photolib/LibraryLock.h"
#include "tools/photolib/PhotoFile.h"
#include "tools/photolib/PhotoImporter.h"

namespace fotello {

namespace {

using loomkit::strprintf;

int failed(const std::string& message) {
  std::fprintf(stderr, "photolib: %s\n", message.c_str());
  return 1;
}

int failed(const loomkit::Error& error) { return failed(error.description()); }

std::optional<std::string> realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

// The absolute path of an existing library; nothing (after saying why) when path is none.
std::optional<std::string> existingLibrary(const std::string& path) {
  std::optional<std::string> library = realPath(path);
  if (!library || !loomkit::FileSystem::exists(LibraryIndex::indexPathForLibrary(*library))) {
    failed(strprintf("%s is not a photo library", path.c_str()));
    return std::nullopt;
  }
  return library;
}

// A library locked and loaded for a change.
struct OpenLibrary {
  LibraryLock lock;
  std::optional<LibraryIndex> index;
};

bool openForChange(const std::string& path, OpenLibrary& open) {
  std::optional<std::string> library = existingLibrary(path);
  if (!library) return false;
  loomkit::Error error;
  if (!LibraryLock::acquire(*library, &open.lock, &error)) return failed(error), false;
  open.index.emplace(*library);
  if (!open.index->load(&error)) return failed(error), false;
  return true;
}

// Brings a folder's photos into the index and saves it; on any failure the files made are
// removed again and the index file is left as it was.
int importInto(LibraryIndex& index, const std::string& folder, PhotoImporter::Mode mode, const char* verb) {
  PhotoImporter importer(index, mode);
  loomkit::Error error;
  if (!importer.importFolder(folder, &error) || !index.save(&error)) {
    importer.rollBack();
    return failed(error);
  }
  std::printf("%s %zu photo%s in %zu roll%s into %s", verb, importer.photosAdded(),
              loomkit::pluralSuffix(static_cast<long long>(importer.photosAdded())), importer.rollsAdded(),
              loomkit::pluralSuffix(static_cast<long long>(importer.rollsAdded())), index.libraryPath().c_str());
  if (importer.filesSkipped() > 0) std::printf(" (%zu skipped)", importer.filesSkipped());
  std::printf("\n");
  return 0;
}

}  // namespace

const char* Photolib::version() { return LibraryIndex::kApplicationVersion; }

void Photolib::printUsage() {
  std::fprintf(stderr,
               "Usage: photolib COMMAND ...\n\n"
               "  photolib create LIBRARY              make an empty photo library\n"
               "  photolib import LIBRARY FOLDER       copy the photos and videos of FOLDER into the library:\n"
               "                                       one roll for FOLDER's own files, one per folder below it\n"
               "  photolib index FOLDER                make FOLDER a library in place (nothing is moved;\n"
               "                                       FOLDER/Thumbnails and FOLDER/Modified are the tool's own)\n"
               "  photolib album LIBRARY NAME KEY...   make or extend the album NAME with the photos KEY...\n"
               "  photolib edit LIBRARY KEY            make a black and white version of photo KEY\n"
               "  photolib open LIBRARY                make LIBRARY the current library\n"
               "  photolib current                     print the current library\n"
               "  photolib --version\n");
}

int Photolib::run(const std::vector<std::string>& args) {
  if (args.empty()) return printUsage(), 2;
  const std::string& command = args[0];
  const size_t n = args.size();
  if (command == "--version" && n == 1) return std::printf("%s\n", version()), 0;
  if (command == "--help" || command == "-h") return printUsage(), 0;
  if (command == "create" && n == 2) return create(args[1]);
  if (command == "import" && n == 3) return import(args[1], args[2]);
  if (command == "index" && n == 2) return index(args[1]);
  if (command == "album" && n >= 4) return album(args[1], args[2], {args.begin() + 3, args.end()});
  if (command == "edit" && n == 3) return edit(args[1], args[2]);
  if (command == "open" && n == 2) return open(args[1]);
  if (command == "current" && n == 1) return current();
  printUsage();
  return 2;
}

int Photolib::create(const std::string& path) {
  if (loomkit::FileSystem::exists(LibraryIndex::indexPathForLibrary(path))) {
    return failed(strprintf("%s is already a photo library", path.c_str()));
  }
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  std::optional<std::string> library = realPath(path);
  if (ec || !library) return failed(strprintf("cannot make %s: %s", path.c_str(), ec.message().c_str()));
  LibraryLock lock;
  loomkit::Error error;
  if (!LibraryLock::acquire(*library, &lock, &error) || !LibraryIndex(*library).save(&error)) return failed(error);
  std::printf("created photo library %s\n", library->c_str());
  return 0;
}

int Photolib::import(const std::string& library, const std::string& folder) {
  OpenLibrary open;
  if (!openForChange(library, open)) return 1;
  return importInto(*open.index, folder, PhotoImporter::Mode::kCopy, "imported");
}

int Photolib::index(const std::string& folder) {
  std::optional<std::string> library = realPath(folder);
  if (!library || !loomkit::FileSystem::isDirectory(*library)) return failed(strprintf("%s is not a folder", folder.c_str()));
  LibraryLock lock;
  loomkit::Error error;
  if (!LibraryLock::acquire(*library, &lock, &error)) return failed(error);
  LibraryIndex index(*library);
  if (loomkit::FileSystem::exists(LibraryIndex::indexPathForLibrary(*library)) && !index.load(&error)) {
    return failed(error);
  }
  return importInto(index, *library, PhotoImporter::Mode::kInPlace, "indexed");
}

int Photolib::album(const std::string& library, const std::string& name, const std::vector<std::string>& keys) {
  OpenLibrary open;
  if (!openForChange(library, open)) return 1;
  LibraryIndex& index = *open.index;
  for (const std::string& key : keys) {
    if (!index.photo(key)) return failed(strprintf("no photo with key %s", key.c_str()));
  }
  LibraryIndex::Album* album = index.userAlbum(name);
  if (!album) album = &index.addUserAlbum(name);
  for (const std::string& key : keys) {
    if (std::find(album->keys.begin(), album->keys.end(), key) == album->keys.end()) album->keys.push_back(key);
  }
  const int64_t id = album->id;
  const size_t count = album->keys.size();
  loomkit::Error error;
  if (!index.save(&error)) return failed(error);
  std::printf("album %s (id %lld): %zu photo%s\n", name.c_str(), static_cast<long long>(id), count,
              loomkit::pluralSuffix(static_cast<long long>(count)));
  return 0;
}

int Photolib::edit(const std::string& library, const std::string& key) {
  OpenLibrary open;
  if (!openForChange(library, open)) return 1;
  LibraryIndex& index = *open.index;
  LibraryIndex::Photo* photo = index.photo(key);
  if (!photo) return failed(strprintf("no photo with key %s", key.c_str()));
  if (PhotoFile::kindForPath(photo->imagePath) != PhotoFile::Kind::kJPEG) {
    return failed(strprintf("photo %s is not a JPEG image; only JPEG photos can be edited", key.c_str()));
  }
  const std::string& root = index.libraryPath();
  loomkit::Error error;
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(root + "/Modified/x", &error)) return failed(error);
  std::string edited;
  for (int n = 1; edited.empty() || loomkit::FileSystem::exists(edited); ++n) {
    edited = strprintf("%s/Modified/%s-%d.jpg", root.c_str(), key.c_str(), n);
  }
  const std::string thumb = root + "/Thumbnails/" + key + ".jpg";
  const std::string newThumb = thumb + ".new";
  std::remove(newThumb.c_str());
  if (!PhotoFile::writeBlackAndWhiteCopy(photo->imagePath, edited, &error)) return failed(error);
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(thumb, &error) ||
      !PhotoFile::writeThumbnail(edited, newThumb, PhotoImporter::kThumbnailSize, &error)) {
    std::remove(edited.c_str());
    return failed(error);
  }
  // An earlier edit is replaced; the original stays the original.
  std::optional<std::string> previousEdit;
  if (photo->originalPath) previousEdit = photo->imagePath;
  else photo->originalPath = photo->imagePath;
  photo->imagePath = edited;
  photo->thumbPath = thumb;
  photo->modDate = LibraryIndex::now();
  if (!index.save(&error)) {
    std::remove(edited.c_str());
    std::remove(newThumb.c_str());
    return failed(error);
  }
  std::rename(newThumb.c_str(), thumb.c_str());
  if (previousEdit && previousEdit->rfind(root + "/Modified/", 0) == 0) std::remove(previousEdit->c_str());
  std::printf("%s\n", edited.c_str());
  return 0;
}

int Photolib::open(const std::string& path) {
  std::optional<std::string> library = existingLibrary(path);
  if (!library) return 1;
  const std::string preferences = Defaults::photoLibraryPreferencesPath();
  // Other preferences in the file are kept; an unreadable file is replaced.
  std::unique_ptr<loomkit::DictNode> dict;
  if (loomkit::FileSystem::exists(preferences)) dict = loomkit::DictNode::dictNodeWithContentsOfXMLFile(preferences);
  if (!dict) dict = std::make_unique<loomkit::DictNode>();
  dict->putString(*library, "RootDirectory");
  loomkit::Error error;
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(preferences, &error) ||
      !dict->writeXMLToFile(preferences, &error)) {
    return failed(error);
  }
  std::printf("current library: %s\n", library->c_str());
  return 0;
}

int Photolib::current() {
  std::optional<std::string> library = Defaults::iPhotoRootDirectory();
  if (!library) return failed("no current library");
  std::printf("%s\n", library->c_str());
  return 0;
}

}  // namespace fotello
