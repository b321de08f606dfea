#include "tools/photolib/PhotoImporter.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Format.h"
#include "tools/photolib/PhotoFile.h"

namespace fotello {

namespace {

using loomkit::strprintf;

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string stem(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Whether the index can hold the text unchanged: UTF-8 without control characters.
bool isIndexable(std::string_view text) {
  if (!loomkit::Utf8::isValid(text)) return false;
  return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The name with every byte the index cannot hold replaced by "_".
std::string indexableName(const std::string& name) {
  if (isIndexable(name)) return name;
  std::string out;
  for (char c : name) out += static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80 ? '_' : c;
  return out;
}

double secondsSince2001(const struct timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9 - LibraryIndex::kReferenceDateSince1970;
}

std::optional<std::string> realPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

PhotoImporter::PhotoImporter(LibraryIndex& index, Mode mode) : index_(index), mode_(mode) {
  if (mode_ == Mode::kInPlace) knownPaths_ = index_.knownPaths();
}

bool PhotoImporter::importFolder(const std::string& folder, loomkit::Error* error) {
  std::optional<std::string> root = realPath(folder);
  struct stat st;
  if (!root || ::stat(root->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return loomkit::setError(error, kPhotolibErrorDomain, -1, strprintf("%s is not a folder", folder.c_str()));
  }
  const std::string& library = index_.libraryPath();
  if (mode_ == Mode::kCopy && (*root == library || root->rfind(library + "/", 0) == 0)) {
    return loomkit::setError(error, kPhotolibErrorDomain, -1,
                             strprintf("%s is inside the library %s", folder.c_str(), library.c_str()));
  }
  if (!makeDirectory(library + "/Thumbnails", error)) return false;
  if (mode_ == Mode::kCopy && !makeDirectory(library + "/Originals", error)) return false;
  std::vector<std::string> pending = {*root};
  while (!pending.empty()) {
    std::string dir = std::move(pending.back());
    pending.pop_back();
    if (!importDirectory(dir, pending, error)) return false;
  }
  return true;
}

bool PhotoImporter::importDirectory(const std::string& dir, std::vector<std::string>& pending, loomkit::Error* error) {
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) {
    skip(strprintf("cannot read the folder %s: %s", dir.c_str(), loomkit::systemErrorText(errno).c_str()));
    return true;
  }
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(handle)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  ::closedir(handle);
  std::sort(names.begin(), names.end());

  const std::string& library = index_.libraryPath();
  std::vector<std::string> folders;
  int64_t roll = 0;
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      bool own = mode_ == Mode::kCopy ? path == library
                                      : dir == library && (name == "Thumbnails" || name == "Modified");
      if (!own) folders.push_back(path);
      continue;
    }
    if (PhotoFile::kindForPath(name) == PhotoFile::Kind::kNone) continue;
    if (!importFile(dir, name, roll, error)) return false;
  }
  // Depth first, in name order: the first folder is taken next.
  pending.insert(pending.end(), folders.rbegin(), folders.rend());
  return true;
}

bool PhotoImporter::importFile(const std::string& dir, const std::string& name, int64_t& roll, loomkit::Error* error) {
  const std::string path = dir + "/" + name;
  if (mode_ == Mode::kInPlace) {
    if (knownPaths_.count(path)) return true;
    if (!isIndexable(path)) {
      skip(strprintf("the name of %s is not UTF-8 text", path.c_str()));
      return true;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    skip(strprintf("cannot read %s: %s", path.c_str(), loomkit::systemErrorText(errno).c_str()));
    return true;
  }
  if (!S_ISREG(st.st_mode)) return true;  // a link to a folder, a device, ...
  if (st.st_size == 0) {
    skip(strprintf("%s is an empty file", path.c_str()));
    return true;
  }
  loomkit::Error problem;
  std::optional<PhotoFile::Info> info = PhotoFile::examine(path, &problem);
  if (!info) {
    skip(problem.description());
    return true;
  }
  if (roll == 0) {
    roll = index_.addRoll(baseName(dir), LibraryIndex::now());
    ++rollsAdded_;
  }
  LibraryIndex::Photo photo;
  photo.imagePath = path;
  if (mode_ == Mode::kCopy && !copyOriginal(path, name, roll, &photo.imagePath, error)) return false;
  photo.caption = stem(indexableName(name));
  photo.imageType = PhotoFile::imageTypeForPath(name);
  photo.mediaType = info->kind == PhotoFile::Kind::kMovie ? "Movie" : "Image";
  if (info->width > 0 && info->height > 0) photo.aspectRatio = static_cast<double>(info->width) / info->height;
  photo.date = info->dateTaken.value_or(secondsSince2001(st.st_mtim));
  photo.modDate = LibraryIndex::now();
  photo.roll = roll;
  if (info->kind == PhotoFile::Kind::kJPEG) {
    std::string thumb = index_.libraryPath() + "/Thumbnails/" + index_.nextPhotoKey() + ".jpg";
    if (PhotoFile::writeThumbnail(photo.imagePath, thumb, kThumbnailSize, &problem)) {
      created_.push_back(thumb);
      photo.thumbPath = thumb;
    } else {
      std::fprintf(stderr, "photolib: no thumbnail for %s: %s\n", path.c_str(), problem.description().c_str());
    }
  }
  index_.addPhoto(std::move(photo));
  ++photosAdded_;
  return true;
}

bool PhotoImporter::copyOriginal(const std::string& source, const std::string& name, int64_t roll, std::string* copy,
                                 loomkit::Error* error) {
  const std::string dir = strprintf("%s/Originals/%lld", index_.libraryPath().c_str(), static_cast<long long>(roll));
  if (!makeDirectory(dir, error)) return false;
  const std::string dest = dir + "/" + indexableName(name);
  std::error_code ec;
  std::filesystem::copy_file(source, dest, std::filesystem::copy_options::none, ec);
  if (ec) {
    return loomkit::setUnixError(error, ec.value(),
                                 strprintf("cannot copy %s to %s: %s", source.c_str(), dest.c_str(), ec.message().c_str()));
  }
  created_.push_back(dest);
  // The copy keeps the original's modification time, which is also its date when it has no EXIF.
  struct stat st;
  if (::stat(source.c_str(), &st) == 0) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, dest.c_str(), times, 0);
  }
  *copy = dest;
  return true;
}

bool PhotoImporter::makeDirectory(const std::string& path, loomkit::Error* error) {
  if (::mkdir(path.c_str(), 0755) == 0) {
    created_.push_back(path);
    return true;
  }
  int e = errno;
  if (e == EEXIST && std::filesystem::is_directory(path)) return true;
  return loomkit::setUnixError(error, e, strprintf("mkdir(%s): %s", path.c_str(), loomkit::systemErrorText(e).c_str()));
}

void PhotoImporter::skip(const std::string& problem) {
  std::fprintf(stderr, "photolib: %s; skipped\n", problem.c_str());
  ++filesSkipped_;
}

void PhotoImporter::rollBack() {
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    if (::remove(it->c_str()) != 0) std::fprintf(stderr, "photolib: cannot remove %s\n", it->c_str());
  }
  created_.clear();
}

}  // namespace fotello
