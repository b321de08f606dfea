#include "protocol/RetrievalLog.h"

#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"
#include "protocol/FotelloApp.h"

namespace fotello {

std::string RetrievalLog::defaultPath() {
  return FotelloApp::applicationSupportPath() + "/log/retrieval_log.txt";
}

RetrievalLog::RetrievalLog() : RetrievalLog(defaultPath()) {}

RetrievalLog::RetrievalLog(std::string path) : path_(std::move(path)) {}

std::string RetrievalLog::retrievalLine(std::time_t when, const std::string& computerName,
                                        const std::string& originalPath) {
  return loomkit::mediumDateShortTimeText(when) + " retrieved " + computerName + ":" + originalPath;
}

bool RetrievalLog::append(const std::string& text, loomkit::Error* error) {
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(path_, error)) {
    return false;
  }
  if (!writer_) {
    writer_ = std::make_unique<loomkit::Writer>(std::make_unique<loomkit::FileOutputStream>(path_, true));
  }
  if (writer_->write(text, error) && writer_->write("\n", error) && writer_->flush(error)) {
    return true;
  }
  // Whatever the buffer still holds belongs to the failed line: drop it with the stream.
  writer_.reset();
  return false;
}

void RetrievalLog::append(const std::string& text) {
  loomkit::requireMainThread();
  loomkit::Error error;
  if (!append(text, &error)) {
    LOG_ERROR("error writing to %s: %s", path_.c_str(), error.description().c_str());
  }
}

}  // namespace fotello
