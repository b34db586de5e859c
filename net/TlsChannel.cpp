#include "net/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "net/SocketErrors.h"

namespace {

constexpr uint16_t WOULD_BLOCK = 10035;
// The largest plaintext of one TLS record: one send encrypts at most this.
constexpr size_t RECORD_PLAINTEXT = 16384;

// The text of the oldest error in OpenSSL's queue (which is emptied), or "".
std::string takeLibraryError() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return {};
  const char* reason = ERR_reason_error_string(code);
  if (reason != nullptr) return reason;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// A context is costly to make (OpenSSL 3 fetches its algorithms, the
// system's store is parsed), so the last one is kept for the next session
// while its CA file stays as it was.
struct ContextKey {
  std::string caFile;
  struct timespec modified {};
  off_t size = 0;
  bool operator==(const ContextKey& o) const {
    return caFile == o.caFile && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           size == o.size;
  }
};

struct ContextDeleter {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

// The socket runs on one thread; the lock keeps the caches sound anyway.
std::mutex cacheGuard;

// The last session of each host, so the next connection resumes it: no
// certificate travels, nothing is signed or verified again. Only sessions
// made under the current context (the current CAs) are kept.
std::map<std::string, SSL_SESSION*>& sessions() {
  static auto* kept = new std::map<std::string, SSL_SESSION*>;
  return *kept;
}

void forgetSessions() {
  for (auto& [host, session] : sessions()) SSL_SESSION_free(session);
  sessions().clear();
}

// OpenSSL hands over each new session (TLS 1.3: the tickets after the
// handshake); the channel's host names it.
int rememberSession(SSL* ssl, SSL_SESSION* session) {
  const auto* host = static_cast<const std::string*>(SSL_get_app_data(ssl));
  if (host == nullptr) return 0;
  std::lock_guard<std::mutex> lock(cacheGuard);
  SSL_SESSION*& kept = sessions()[*host];
  SSL_SESSION_free(kept);
  kept = session;
  return 1;  // the reference is the cache's now
}

// The cached context lives to the end of the process and is never freed:
// OpenSSL cleans itself up at exit, before static objects would be destroyed.
SSL_CTX* clientContext(const std::string& caFile, std::string& failure) {
  static ContextKey cachedKey;
  static SSL_CTX* cached = nullptr;
  std::lock_guard<std::mutex> lock(cacheGuard);
  ContextKey key{caFile, {}, 0};
  if (!caFile.empty()) {
    struct stat info {};
    if (::stat(caFile.c_str(), &info) != 0) {
      failure = "cannot read the CA file '" + caFile + "': " + std::strerror(errno);
      return nullptr;
    }
    key.modified = info.st_mtim;
    key.size = info.st_size;
  }
  if (cached != nullptr && cachedKey == key) return cached;

  ERR_clear_error();
  std::unique_ptr<SSL_CTX, ContextDeleter> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) {
    failure = "cannot set up TLS: " + takeLibraryError();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  // A server that just closes the connection ends the stream; renegotiation
  // is refused, so a read never has to wait for a write.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx.get(), rememberSession);
  const int loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx.get())
                                    : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
  if (loaded != 1) {
    const std::string reason = takeLibraryError();
    failure = caFile.empty() ? "cannot load the system's trusted certificates: " + reason
                             : "cannot load the CA file '" + caFile + "': " + reason;
    return nullptr;
  }
  forgetSessions();
  SSL_CTX_free(cached);
  cached = ctx.release();
  cachedKey = key;
  return cached;
}

bool isIpAddress(const std::string& host) {
  unsigned char address[16];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

// OpenSSL reads and writes through the socket's own handle.
struct TlsChannelTransport {
  static TlsChannel& channel(BIO* bio) { return *static_cast<TlsChannel*>(BIO_get_data(bio)); }

  static int write(BIO* bio, const char* data, size_t size, size_t* written) {
    BIO_clear_retry_flags(bio);
    iovec part{const_cast<char*>(data), size};
    size_t sent = 0;
    const uint16_t error = channel(bio).handle_.send(&part, 1, sent);
    if (error == 0) {
      *written = sent;
      return 1;
    }
    if (error == WOULD_BLOCK) {
      BIO_set_retry_write(bio);
    } else {
      channel(bio).transportError_ = error;
    }
    return 0;
  }

  static int read(BIO* bio, char* data, size_t size, size_t* readBytes) {
    BIO_clear_retry_flags(bio);
    size_t received = 0;
    const uint16_t error = channel(bio).handle_.receive(data, size, received);
    if (error == 0 && received > 0) {
      *readBytes = received;
      return 1;
    }
    if (error == WOULD_BLOCK) {
      BIO_set_retry_read(bio);
    } else if (error != 0) {
      channel(bio).transportError_ = error;
    }
    return 0;  // 0 bytes without a retry: the end of the stream
  }

  static long control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

  static BIO_METHOD* method() {
    static BIO_METHOD* m = [] {
      BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "morvane socket");
      BIO_meth_set_write_ex(made, write);
      BIO_meth_set_read_ex(made, read);
      BIO_meth_set_ctrl(made, control);
      return made;
    }();
    return m;
  }
};

std::unique_ptr<TlsChannel> TlsChannel::open(SocketHandle& handle, const std::string& host,
                                             const std::string& caFile, std::string& failure) {
  SSL_CTX* ctx = clientContext(caFile, failure);
  if (ctx == nullptr) return nullptr;
  SSL* ssl = SSL_new(ctx);
  BIO* bio = ssl != nullptr ? BIO_new(TlsChannelTransport::method()) : nullptr;
  if (bio == nullptr) {
    SSL_free(ssl);
    failure = "cannot set up TLS: " + takeLibraryError();
    return nullptr;
  }
  std::unique_ptr<TlsChannel> channel(new TlsChannel(handle, ssl, host));
  BIO_set_data(bio, channel.get());
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl, bio, bio);
  // The certificate must name what the user configured: the IP address
  // itself, or the host name (which also goes to the server, for servers
  // with several certificates).
  X509_VERIFY_PARAM* check = SSL_get0_param(ssl);
  X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  const bool named = isIpAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str()) == 1
                                       : SSL_set1_host(ssl, host.c_str()) == 1 &&
                                             SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
  if (!named) {
    failure = "cannot check certificates for the host '" + host + "': " + takeLibraryError();
    return nullptr;
  }
  SSL_set_app_data(ssl, &channel->host_);
  {
    std::lock_guard<std::mutex> lock(cacheGuard);
    auto kept = sessions().find(host);
    if (kept != sessions().end()) SSL_set_session(ssl, kept->second);
  }
  SSL_set_connect_state(ssl);
  return channel;
}

TlsChannel::TlsChannel(SocketHandle& handle, ssl_st* ssl, std::string host)
    : handle_(handle), ssl_(ssl), host_(std::move(host)) {}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

TlsChannel::Status TlsChannel::settle(int result, bool duringHandshake) {
  const int error = SSL_get_error(ssl_, result);
  switch (error) {
    case SSL_ERROR_WANT_READ:
      ERR_clear_error();
      return Status::WantRead;
    case SSL_ERROR_WANT_WRITE:
      ERR_clear_error();
      return Status::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
      ERR_clear_error();
      if (!duringHandshake) return Status::Closed;
      failure_ = "the server closed the connection during the handshake";
      return Status::Failed;
    default:
      break;
  }
  std::string reason = takeLibraryError();
  if (transportError_ != 0) {
    reason = socketErrorDescription(transportError_);
  } else if (reason.empty()) {
    reason = duringHandshake ? "the server closed the connection during the handshake"
                             : "the connection broke off";
  }
  const long verified = SSL_get_verify_result(ssl_);
  if (duringHandshake && verified != X509_V_OK)
    reason += std::string(" (") + X509_verify_cert_error_string(verified) + ")";
  failure_ = reason;
  return Status::Failed;
}

TlsChannel::Status TlsChannel::handshake() {
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_);
  return result == 1 ? Status::Ok : settle(result, true);
}

TlsChannel::Status TlsChannel::send(const iovec* parts, size_t count, size_t& sent) {
  sent = 0;
  // One record of up to 16 KB per call: the parts are gathered into it. A
  // retry offers the same bytes from the front of the socket's queue.
  char record[RECORD_PLAINTEXT];
  size_t length = 0;
  for (size_t i = 0; i < count && length < sizeof record; ++i) {
    const size_t n = std::min(parts[i].iov_len, sizeof record - length);
    std::memcpy(record + length, parts[i].iov_base, n);
    length += n;
  }
  if (length == 0) return Status::Ok;
  ERR_clear_error();
  const int result = SSL_write_ex(ssl_, record, length, &sent);
  return result == 1 ? Status::Ok : settle(result, false);
}

TlsChannel::Status TlsChannel::receive(void* buffer, size_t size, size_t& received) {
  received = 0;
  if (size == 0) return Status::Ok;
  ERR_clear_error();
  const int result = SSL_read_ex(ssl_, buffer, size, &received);
  return result == 1 ? Status::Ok : settle(result, false);
}

TlsChannel::Status TlsChannel::peek() {
  char probe;
  size_t seen = 0;
  ERR_clear_error();
  const int result = SSL_peek_ex(ssl_, &probe, 1, &seen);
  return result == 1 ? Status::Ok : settle(result, false);
}


size_t TlsChannel::pending() const { return static_cast<size_t>(SSL_pending(ssl_)); }

void TlsChannel::closeNotify() {
  if (closeNotified_) return;
  closeNotified_ = true;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
}

std::string TlsChannel::protocol() const { return SSL_get_version(ssl_); }
