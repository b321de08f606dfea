// The text file that tells the user which photos came from which computer, and when.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "loomkit/io/Writer.h"
#include "loomkit/shared/Error.h"

namespace fotello {

// Only the agent writes the file, and only on its main thread (append() checks), so the lines of
// one process never interleave; the file is opened at the first append and stays open. The
// desktop application only reads it.
class RetrievalLog {
 public:
  // "log/retrieval_log.txt" in the data directory.
  static std::string defaultPath();

  // The log at defaultPath(); touches no file.
  RetrievalLog();
  // The log at path; touches no file.
  explicit RetrievalLog(std::string path);

  const std::string& path() const { return path_; }

  // The line recorded for one imported photo: "<date and time> retrieved <computer>:<path>", the
  // date and time in the user's locale (medium date, short time).
  static std::string retrievalLine(std::time_t when, const std::string& computerName, const std::string& originalPath);

  // Creates the missing parent directories, appends text and a line feed, and flushes. A text
  // with line feeds of its own is written as it stands. After a failure the next append starts
  // on a fresh stream, so the failed text is never written later.
  bool append(const std::string& text, loomkit::Error* error);
  // Main thread only: append(text, error), a failure logged at ERROR "error writing to %@: %@".
  void append(const std::string& text);

 private:
  // Constant after construction.
  const std::string path_;
  // Main thread only: the open file, created at the first append.
  std::unique_ptr<loomkit::Writer> writer_;
};

}  // namespace fotello
