#include "agent/QVServerThread.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <span>

#include "agent/ScanThread.h"
#include "loomkit/crypto/ConstantTime.h"
#include "loomkit/crypto/MD5Hash.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/Gzip.h"
#include "loomkit/io/Streams.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"
#include "loomkit/shared/NotificationCenter.h"
#include "platform/Alert.h"
#include "protocol/FotelloApp.h"
#include "protocol/IQVKeyChain.h"
#include "protocol/PasswordStore.h"

namespace fotello {

using loomkit::Bytes;
using loomkit::Error;
using loomkit::ServerHTTPConnection;
using loomkit::ServerHTTPRequest;

namespace {

constexpr const char* kVersionHeader = "X-QV-Version";
constexpr const char* kPasswordHeader = "X-QV-PasswordMD5";
constexpr const char* kComputerNameHeader = "X-QV-ComputerName";
constexpr std::string_view kPhotosPrefix = "/photos/";

std::span<const uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A file this connection opened and checked, read from its start up to the length announced; for
// answers that go through the pacing copy.
class OpenFileInputStream final : public loomkit::InputStream {
 public:
  OpenFileInputStream(int fd, std::string path, uint64_t length) : fd_(fd), path_(std::move(path)), left_(length) {}

  int64_t read(void* buffer, uint64_t capacity, Error* error) override {
    uint64_t wanted = std::min(capacity, left_);
    if (wanted == 0) return 0;
    ssize_t n;
    do {
      n = ::pread(fd_, buffer, wanted, static_cast<off_t>(offset_));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      int errnum = errno;
      loomkit::setUnixError(error, errnum,
                            loomkit::strprintf("read(%s): %s", path_.c_str(), loomkit::systemErrorText(errnum).c_str()));
      return -1;
    }
    offset_ += static_cast<uint64_t>(n);
    left_ -= static_cast<uint64_t>(n);
    return n;
  }
  std::string description() const override {
    return loomkit::strprintf("<OpenFileInputStream: fd=%d path=%s>", fd_, path_.c_str());
  }

 private:
  int fd_;
  std::string path_;
  uint64_t offset_ = 0;
  uint64_t left_;
};

// Closes a descriptor at the end of the scope.
struct ScopedFD {
  int fd;
  ~ScopedFD() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

// One catalog being served, with its answer body made on first demand: the catalog never changes,
// so every "/albumdata" request gets the same compressed bytes.
struct QVServerThread::ServedCatalog {
  explicit ServedCatalog(std::shared_ptr<const AlbumData> catalog) : albumData(std::move(catalog)) {}

  // The gzip form of the catalog's bytes, made once; nothing (not remembered) on failure.
  std::shared_ptr<const Bytes> gzippedData(Error* error) {
    std::lock_guard lock(mutex);
    if (gzipped) return gzipped;
    auto sink = std::make_unique<loomkit::DataOutputStream>();
    std::shared_ptr<Bytes> plain = sink->mutableData();
    {
      loomkit::BufferedOutputStream out(std::move(sink));
      if (!albumData->writeToStream(out, error) || !out.flush(error)) return nullptr;
    }
    std::optional<Bytes> compressed = loomkit::Gzip::gzipDeflate(*plain);
    if (!compressed) {
      loomkit::setError(error, "GzipErrorDomain", -1, "gzip compression failed");
      return nullptr;
    }
    LOG_DEBUG("compressed album data: %zu bytes to %zu", plain->size(), compressed->size());
    gzipped = std::make_shared<const Bytes>(std::move(*compressed));
    return gzipped;
  }

  const std::shared_ptr<const AlbumData> albumData;
  std::mutex mutex;                     // guards gzipped; held while it is made
  std::shared_ptr<const Bytes> gzipped;
};

QVServerThread::QVServerThread(int port, uint32_t bindAddress, loomkit::ConnectionServer::Limits limits)
    : bindAddress_(bindAddress),
      port_(port),
      connectionServer_(std::make_unique<loomkit::ConnectionServer>(static_cast<loomkit::ConnectionHandler&>(*this), limits)) {}

QVServerThread::~QVServerThread() {
  stop();
  if (thread_.joinable()) thread_.join();
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !running_; });
  }
  // Closes the open connections and waits for their threads, which still use this object.
  connectionServer_.reset();
  std::lock_guard lock(mutex_);
  listenSocket_.reset();
}

void QVServerThread::setDelegate(QVServerThreadDelegate* delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

void QVServerThread::setPasswordRequired(bool required) {
  LOG_DEBUG("set passwordRequired=%s", required ? "YES" : "NO");
  passwordRequired_.store(required, std::memory_order_relaxed);
}

int QVServerThread::port() const {
  std::lock_guard lock(mutex_);
  return port_;
}

void QVServerThread::setLocalAlbumData(std::shared_ptr<const AlbumData> albumData) {
  auto served = albumData ? std::make_shared<ServedCatalog>(std::move(albumData)) : nullptr;
  {
    std::lock_guard lock(mutex_);
    servedCatalog_ = std::move(served);
  }
  loomkit::MainLoop* loop = loomkit::MainLoop::main();
  if (loop) {
    loop->performAndWait([this] { bindAndListen(); });
  } else {
    bindAndListen();
  }
}

void QVServerThread::bindAndListen() {
  loomkit::requireMainThread();
  int port;
  {
    std::lock_guard lock(mutex_);
    if (listenSocket_) return;
    port = port_;
  }
  auto socket = std::make_shared<loomkit::ServerListenSocket>(bindAddress_);
  Error error;
  bool bound = port == 0 ? socket->bindAndListenAtAnyPort(port, &error) : socket->bindAndListenAtPortOrAnyPort(port, &error);
  if (!bound) {
    LOG_ERROR("error binding to a socket: %s", error.description().c_str());
    Alert::runModal("Failed to initialize", error.description(), {"Quit"});
    if (loomkit::MainLoop::main()) {
      loomkit::MainLoop::main()->quit(1);
    } else {
      std::exit(1);
    }
    return;
  }
  // "/iconimage" serves this file; without the desktop application nobody else writes it.
  loomkit::Computer::storeImageData(FotelloApp::applicationSupportPath());
  {
    std::lock_guard lock(mutex_);
    listenSocket_ = std::move(socket);
    port_ = port;
  }
  changed_.notify_all();
  LOG_INFO("bound at port %d", port);
  loomkit::NotificationCenter::defaultCenter().post({kDidBindAndListenNotification, {{"port", port}}});
}

void QVServerThread::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { run(); });
}

void QVServerThread::run() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || running_) return;
    running_ = true;
  }
  for (;;) {
    std::shared_ptr<loomkit::ServerListenSocket> socket;
    {
      std::unique_lock lock(mutex_);
      if (stopping_) break;
      socket = listenSocket_;
      if (!socket) {
        changed_.wait_for(lock, std::chrono::seconds(1));
        continue;
      }
    }
    Error error;
    std::unique_ptr<loomkit::ServerSocket> accepted = socket->acceptWithTimeout(kAcceptTimeoutSeconds, &error);
    if (accepted) {
      connectionServer_->serve(std::move(accepted));
      continue;
    }
    if (error.is(loomkit::ServerListenSocket::errorDomain(), loomkit::ServerListenSocket::kTimeoutErrorCode)) continue;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    LOG_ERROR("accept: %s", error.description().c_str());
    pause(std::chrono::seconds(1));
  }
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    changed_.notify_all();
  }
}

void QVServerThread::stop() {
  std::shared_ptr<loomkit::ServerListenSocket> socket;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    socket = listenSocket_;
    changed_.notify_all();
  }
  mainThreadCalls_.cancelAll();
  // Ends the accepting thread's wait at once; the socket stays open until this object goes.
  if (socket && socket->isOpen()) ::shutdown(socket->fd(), SHUT_RD);
}

bool QVServerThread::pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, duration, [this] { return stopping_; });
  return !stopping_;
}

void QVServerThread::reportOnMainThread(std::function<void(QVServerThreadDelegate&)> fn) {
  QVServerThreadDelegate* delegate;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || !delegate_) return;
    delegate = delegate_;
  }
  // stop() may end the wait: the destructor runs on the main thread and must not wait for
  // connection threads that wait for it.
  mainThreadCalls_.performAndWait([fn = std::move(fn), delegate] { fn(*delegate); });
}

void QVServerThread::connectionWillStart() {
  reportOnMainThread([this](QVServerThreadDelegate& delegate) { delegate.serverThreadWillProcessConnection(*this); });
}

void QVServerThread::connectionDidEnd() {
  reportOnMainThread([this](QVServerThreadDelegate& delegate) { delegate.serverThreadDidProcessConnection(*this); });
}

bool QVServerThread::processRequest(ServerHTTPConnection& connection, const ServerHTTPRequest& request, Error* error) {
  const std::string& path = request.pathInfo();
  std::optional<std::string> version = request.headerForKey(kVersionHeader);
  std::string computerName = request.headerForKey(kComputerNameHeader).value_or("(null)");
  LOG_DEBUG("processing request %s from %s", request.description().c_str(), computerName.c_str());

  bool ok;
  if (!version || *version != FotelloApp::httpVersionString()) {
    LOG_INFO("%s: wrong app version %s (expected %s)", computerName.c_str(), version ? version->c_str() : "(null)",
             FotelloApp::httpVersionString());
    ok = sendError(connection, 403, "Access denied: invalid Fotello version", error);
  } else if (path == "/iconimage") {
    ok = sendIcon(connection, error);
  } else if (checkPassword(connection, request, computerName, ok, error)) {
    ok = dispatch(connection, path, error);
  }
  LOG_DEBUG("processRequest returning %s", ok ? "YES" : "NO");
  return ok;
}

bool QVServerThread::checkPassword(ServerHTTPConnection& connection, const ServerHTTPRequest& request,
                                   const std::string& computerName, bool& ok, Error* error) {
  if (!passwordRequired()) return true;
  LOG_DEBUG("checking password");
  Error readError;
  std::optional<std::string> password = IQVKeyChain::localPassword(&readError);
  if (password) {
    std::optional<std::string> digest = request.headerForKey(kPasswordHeader);
    if (digest && loomkit::ConstantTime::equals(*digest, loomkit::MD5Hash::hashString(*password))) return true;
    LOG_INFO("%s denied access", computerName.c_str());
    ok = sendError(connection, 403, "Access denied", error);
    return false;
  }
  // No password was ever set: nothing to prove.
  if (readError.is(PasswordStore::errorDomain(), PasswordStore::kNotFoundCode)) return true;
  LOG_ERROR("error reading local password: %s", readError.description().c_str());
  QVServerThreadDelegate* delegate;
  {
    std::lock_guard lock(mutex_);
    delegate = delegate_;
  }
  if (delegate) delegate->serverThreadLocalPasswordError(readError);
  ok = sendError(connection, 500, "Password configuration error: " + readError.description(), error);
  return false;
}

bool QVServerThread::dispatch(ServerHTTPConnection& connection, const std::string& path, Error* error) {
  if (path == "/status") return sendStatus(connection, error);
  if (path == "/albumdata") return sendAlbumData(connection, error);
  if (path.starts_with(kPhotosPrefix)) {
    // "/photos/KEY/KIND", each part non-empty and without "/".
    std::string_view rest = std::string_view(path).substr(kPhotosPrefix.size());
    size_t slash = rest.find('/');
    if (slash != std::string_view::npos && slash > 0 && slash + 1 < rest.size() &&
        rest.find('/', slash + 1) == std::string_view::npos) {
      std::string_view key = rest.substr(0, slash);
      std::string_view kind = rest.substr(slash + 1);
      if (kind == "thumbnail") return sendPhoto(connection, key, true, error);
      if (kind == "fullsize") return sendPhoto(connection, key, false, error);
      return sendError(connection, 404, "Unrecognized photo type", error);
    }
  }
  return sendError(connection, 404, "Path not found", error);
}

bool QVServerThread::sendStatus(ServerHTTPConnection& connection, Error* error) {
  if (!scanThread_) {
    LOG_ERROR("scanThread must not be nil");
    std::abort();
  }
  LOG_DEBUG("getting status from scanThread");
  std::unique_ptr<IQVAgentStatus> status = scanThread_->status();
  Bytes data = status->txtRecordData();
  LOG_DEBUG("sending status %s (%lu bytes)", status->description().c_str(), static_cast<unsigned long>(data.size()));
  auto response = connection.responseWithCode(200);
  response->setHeader("application/octet-stream", "Content-Type");
  response->setHeader(std::to_string(data.size()), "Content-Length");
  response->setKeepAliveHeader();
  return response->writeFullyWithBytes(data, error);
}

bool QVServerThread::sendIcon(ServerHTTPConnection& connection, Error* error) {
  Error readError;
  std::optional<Bytes> data = loomkit::Computer::imageData(FotelloApp::applicationSupportPath(), &readError);
  if (!data) {
    LOG_ERROR("error reading computer image icon: %s", readError.description().c_str());
    data.emplace();
  }
  auto response = connection.responseWithCode(200);
  response->setHeader("application/octet-stream", "Content-Type");
  response->setHeader(std::to_string(data->size()), "Content-Length");
  response->setKeepAliveHeader();
  return response->writeFullyWithBytes(*data, error);
}

bool QVServerThread::sendAlbumData(ServerHTTPConnection& connection, Error* error) {
  std::shared_ptr<ServedCatalog> served;
  {
    std::lock_guard lock(mutex_);
    served = servedCatalog_;
  }
  if (!served) return sendError(connection, 404, "Album data not available", error);
  LOG_DEBUG("sending photo list");
  Error writeError;
  std::shared_ptr<const Bytes> body = served->gzippedData(&writeError);
  if (!body) {
    LOG_ERROR("error writing album data to stream: %s", writeError.description().c_str());
    return sendError(connection, 500, "Error serializing album data: " + writeError.description(), error);
  }
  auto response = connection.responseWithCode(200);
  response->setHeader("application/octet-stream", "Content-Type");
  response->setHeader("gzip", "Content-Encoding");
  response->setHeader(std::to_string(body->size()), "Content-Length");
  response->setKeepAliveHeader();
  if (!response->writeFullyWithBytes(*body, error)) return false;
  LOG_DEBUG("sent photo list");
  return true;
}

bool QVServerThread::sendPhoto(ServerHTTPConnection& connection, std::string_view key, bool thumbnail, Error* error) {
  std::shared_ptr<ServedCatalog> served;
  {
    std::lock_guard lock(mutex_);
    served = servedCatalog_;
  }
  // The key only selects a photo of the catalog; the file sent is the one the catalog names.
  const Photo* photo = served ? served->albumData->photoForSHA1(key) : nullptr;
  std::string keyText(key);
  if (!photo) return sendError(connection, 404, loomkit::strprintf("Photo %s not found", keyText.c_str()), error);
  std::optional<std::string_view> path = thumbnail ? photo->thumbPath() : photo->originalPath();
  if (!path) {
    return sendError(connection, 404,
                     loomkit::strprintf("%s not found for sha1 %s photo %s", thumbnail ? "Thumbnail" : "Original",
                                        keyText.c_str(), photo->description().c_str()),
                     error);
  }
  std::string pathText(*path);
  LOG_DEBUG("sending %s for %s: %s", thumbnail ? "thumbnail" : "original", keyText.c_str(), pathText.c_str());
  return sendFile(connection, pathText, error);
}

bool QVServerThread::sendFile(ServerHTTPConnection& connection, const std::string& path, Error* error) {
  // Only an existing regular file at an absolute path, not through a final symbolic link; opened
  // without waiting, so a FIFO or device named in the index cannot hold the connection.
  int fd = -1;
  int openError = ENOENT;
  if (path.starts_with('/')) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    openError = errno;
  }
  ScopedFD file{fd};
  if (fd < 0) {
    if (openError == ENOENT || openError == ENOTDIR) {
      return sendError(connection, 404, loomkit::strprintf("Image file %s not found", path.c_str()), error);
    }
    return sendError(connection, 404,
                     loomkit::strprintf("Error getting attributes of image file: %s: %s", path.c_str(),
                                        loomkit::systemErrorText(openError).c_str()),
                     error);
  }
  struct stat attributes {};
  if (::fstat(fd, &attributes) != 0) {
    int errnum = errno;
    return sendError(connection, 404,
                     loomkit::strprintf("Error getting attributes of image file: %s: %s", path.c_str(),
                                        loomkit::systemErrorText(errnum).c_str()),
                     error);
  }
  if (!S_ISREG(attributes.st_mode)) {
    return sendError(connection, 404,
                     loomkit::strprintf("Error getting attributes of image file: %s is not a regular file",
                                        path.c_str()),
                     error);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const uint64_t length = static_cast<uint64_t>(attributes.st_size);

  auto response = connection.responseWithCode(200);
  response->setHeader(contentTypeForPath(path), "Content-Type");
  response->setHeader(std::to_string(length), "Content-Length");
  response->setKeepAliveHeader();
  if (loomkit::Streams::throttleType() == loomkit::Streams::kThrottleNone) {
    return response->writeFullyWithFile(fd, 0, length, error);
  }
  // Throttled transfers go through the pacing copy.
  OpenFileInputStream body(fd, path, length);
  return response->writeFullyWithBody(&body, error);
}

bool QVServerThread::sendError(ServerHTTPConnection& connection, int code, const std::string& message, Error* error) {
  auto response = connection.responseWithCode(code);
  response->setHeader("text/plain", "Content-Type");
  response->setHeader(std::to_string(message.size()), "Content-Length");
  return response->writeFullyWithBytes(bytesOf(message), error);
}

std::string QVServerThread::contentTypeForPath(std::string_view path) {
  std::string lower(path);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".jpg", "image/jpeg"},         {".jpeg", "image/jpeg"},         {".avi", "video/x-msvideo"},
      {".m4u", "video/vnd.mpegurl"},  {".m4v", "video/x-m4v"},         {".mov", "video/quicktime"},
      {".movie", "video/x-sgi-movie"}, {".mp4", "video/mp4"},          {".mpe", "video/mpeg"},
      {".mpeg", "video/mpeg"},        {".mpg", "video/mpeg"},
  };
  for (const auto& [ending, type] : kTypes) {
    if (lower.ends_with(ending)) return std::string(type);
  }
  return "application/octet-stream";
}

}  // namespace fotello
