// Brings the photos and videos of a folder tree into a library index: copied into the library
// ("import") or left where they are ("index").
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "loomkit/shared/Error.h"
#include "tools/photolib/LibraryIndex.h"

namespace fotello {

// Used by the tool's one thread. Files it cannot read are reported on standard error and skipped;
// a failure to write into the library stops the import, and rollBack() then removes every file
// and folder the importer made, so the library is as it was (the index file is only rewritten by
// the caller, after a successful import).
class PhotoImporter {
 public:
  enum class Mode {
    kCopy,     // originals copied to LIBRARY/Originals/ROLLID/
    kInPlace,  // originals stay; the library's own folders and files are left out of the walk
  };

  // Longest side of a thumbnail, in pixels.
  static constexpr int kThumbnailSize = 360;

  // The index must outlive the importer.
  PhotoImporter(LibraryIndex& index, Mode mode);

  // Adds every photo and video below the folder: the files directly in it form a roll named after
  // it, each folder below its own roll named after that folder (folders without photos make no
  // roll). Hidden entries and links to folders are not followed. In place, files the index already
  // names are left out. Fails with the file system's error when the library cannot take a file.
  bool importFolder(const std::string& folder, loomkit::Error* error = nullptr);
  // Removes what this importer created, newest first.
  void rollBack();

  size_t photosAdded() const { return photosAdded_; }
  size_t rollsAdded() const { return rollsAdded_; }
  size_t filesSkipped() const { return filesSkipped_; }

 private:
  // Imports the files of one folder as one roll; its subfolders are appended to pending.
  bool importDirectory(const std::string& dir, std::vector<std::string>& pending, loomkit::Error* error);
  // Adds one file to the roll (creating the roll on the first file); false only when the library
  // could not take it.
  bool importFile(const std::string& dir, const std::string& name, int64_t& roll, loomkit::Error* error);
  // The copy's path in the roll's folder (made on first use).
  bool copyOriginal(const std::string& source, const std::string& name, int64_t roll, std::string* copy,
                    loomkit::Error* error);
  // Reports a file or folder left out ("photolib: PROBLEM; skipped").
  void skip(const std::string& problem);
  bool makeDirectory(const std::string& path, loomkit::Error* error);

  LibraryIndex& index_;
  const Mode mode_;
  std::unordered_set<std::string> knownPaths_;  // in place: the files already in the index
  std::vector<std::string> created_;            // files and folders made, in order
  size_t photosAdded_ = 0;
  size_t rollsAdded_ = 0;
  size_t filesSkipped_ = 0;
};

}  // namespace fotello
