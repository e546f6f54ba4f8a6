#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dispatch.h"

namespace ov {

struct HttpHeader {
  std::string name;
  std::string value;
  bool operator==(const HttpHeader&) const = default;
};
// Ordered as the caller lists them (and as they go on the wire).
using HttpHeaders = std::vector<HttpHeader>;

// Form fields; each name occurs once.
using FormFields = std::map<QString, QString>;

// application/x-www-form-urlencoded: UTF-8, every byte but unreserved ones
// (A-Z a-z 0-9 - . _ ~) percent-encoded, pairs joined by "&".
std::string formEncode(const FormFields& fields);

class HttpResponse {
 public:
  int statusCode = 0;
  HttpHeaders headerFields;  // of the final response (after redirects), in arrival order

  // The value of the first header field of that name, compared without regard to case.
  std::optional<std::string> value(std::string_view name) const;
};

struct HttpError {
  enum class Kind {
    Cancelled,
    TimedOut,
    Connection,
    Tls,
    File,
    UnsupportedUrl,
    ResumeFailed,
    UnexpectedAnswer,     // not the answer DownloadOptions::expected asks for
    ProxyAuthentication,  // the proxy wants a user name and password that nobody gave (or it refused)
    Other
  };
  Kind kind = Kind::Other;
  std::string description;  // printable, for the log
};

enum class HttpMethod { Get, Head, Post };

// The answer to a request of the shared client.
//
// The body becomes text by the charset parameter of its Content-Type: UTF-8
// when there is none, ISO-8859-1 (latin1) byte for byte when declared. An
// empty body (and every HEAD answer) is the empty text. A body that is not
// valid in its charset, or in a charset we cannot read, is an error of kind
// Other that still carries the response; it is never turned into text with
// replacement characters.
struct DataResponse {
  std::optional<HttpResponse> response;  // when an HTTP response arrived
  std::optional<QString> text;           // the body as text, when the request succeeded
  std::optional<HttpError> error;        // set exactly when `text` is not
};

// The shared default client: service POSTs and the HEAD probe.
// Time-outs: connect 30 s; a request that receives no data for 60 s, or whose
// answer has not fully arrived 60 s after it started, fails. gzip and deflate
// answers are decoded. Only http and https URLs are fetched, and redirects are
// followed only to https: a plain-http hop would let anyone on the path answer
// in the service's name. Status codes are never judged here.
class HttpClient {
 public:
  virtual ~HttpClient() = default;

  // Starts the request at once. `handler` runs exactly once, on `queue`, never
  // on the calling thread. POST fields travel form-encoded in the body; other
  // methods send no body. `headers` go out in order after the client's own
  // (Host, User-Agent, then "Accept-Encoding: gzip, deflate"); a caller's
  // "Accept-Encoding" replaces the client's, so the field goes out once. An
  // answer body larger than 16 MiB fails (kind Other): service answers are short.
  virtual void request(const QString& url, HttpMethod method, const FormFields& parameters,
                       const HttpHeaders& headers, std::shared_ptr<DispatchQueue> queue,
                       std::function<void(DataResponse)> handler) = 0;

  // Ends every request of this client in flight (every request made before
  // this call and not yet answered): each handler runs with a Cancelled error
  // and no response. Returns at once.
  virtual void cancelAllRequests() = 0;
};

HttpClient& sharedHttpClient();

struct DownloadSessionConfiguration {
  // No body byte for this long, over every attempt since the last one, fails
  // the request (never retried).
  std::chrono::milliseconds requestTimeout = std::chrono::seconds(600);
  std::chrono::milliseconds resourceTimeout = std::chrono::seconds(600);  // whole transfer, active time
  std::chrono::milliseconds connectTimeout = std::chrono::seconds(30);
  // An attempt that receives no byte for this long (a connection gone silent
  // after a network change) is ended and asked again at once on a new
  // connection, after the bytes already written, as a retry does; it uses up
  // no retry of the policy. Only the request time-out ends such a request.
  std::chrono::milliseconds stallTimeout = std::chrono::seconds(30);
  // Progress is coalesced: at most one report per request in this interval,
  // and never a second one while the first still waits in its queue. The
  // final fraction (1.0, on success) is always reported; if the request is
  // suspended just then, it is reported on resume().
  std::chrono::milliseconds progressInterval = std::chrono::milliseconds(200);
};

// One download. Its methods may be called on any thread. A request that has
// not finished keeps itself alive: nobody needs to hold it.
class DownloadRequest {
 public:
  virtual ~DownloadRequest() = default;
  // Stops transferring until resume() and gives up the connection (servers
  // drop idle connections long before a user comes back from a pause). Time
  // spent suspended counts toward no time-out. While suspended no progress is
  // delivered. Idempotent.
  virtual void suspend() = 0;
  // Continues where it stopped; bytes already written are kept. The rest is
  // asked for with the Range narrowed by the n bytes kept (after a 206 for
  // "bytes a-b/T", "bytes=(a+n)-b"; after a 200, "bytes=n-") and every other
  // field of the original request, If-Range included. Anything but an
  // unencoded 206 whose Content-Range continues exactly there (and names the
  // same complete length, when known) fails the request with ResumeFailed.
  // A request suspended before any body byte arrived is sent again unchanged.
  // Idempotent.
  virtual void resume() = 0;
  // Ends the request with a Cancelled error (once; later calls do nothing).
  virtual void cancel() = 0;
  virtual bool isSuspended() const = 0;
  // True once the request has ended, whatever the outcome.
  virtual bool isFinished() const = 0;
  // Body bytes of the answer being written that are on their way to the
  // destination, those of earlier attempts included (a retry that starts over
  // counts from 0 again). A moment's view, from any thread.
  virtual std::int64_t bytesWritten() const = 0;
  // Moves the end of the expected range back to byte `last`, so that another
  // request can fetch the bytes after it. Accepted while the request has not
  // written past `last`: it then completes once byte `last` is written,
  // ending the transfer there whatever the server still sends (those bytes
  // are dropped), and every later attempt asks for no more than `last`; when
  // byte `last` is already written it completes at once. Refused when it has
  // written past `last`, has finished, has no expected range, or `last` lies
  // outside it; nothing changes then. `done` runs once, on the completion
  // queue, with whether the end moved; a completion that ends at `last` may
  // run before it.
  virtual void narrowEnd(std::int64_t last, std::function<void(bool narrowed)> done) = 0;
};

struct DownloadResponse {
  // The first final answer when the request succeeded; when it failed, the
  // last final answer that arrived (the one that decided the failure), if any.
  std::optional<HttpResponse> response;
  std::optional<HttpError> error;  // why the request failed
  QString destination;             // where the body was written
};

using DownloadProgressHandler = std::function<void(const std::shared_ptr<DownloadRequest>&, double fraction)>;
using DownloadCompletionHandler = std::function<void(const DownloadResponse&)>;

// The one answer a download will take: bytes first to last (inclusive) of a
// file of completeLength bytes. The request then judges every answer before a
// body byte is written: a 206 whose Content-Range names exactly these bytes and
// this complete length, or a 200 when the range is the whole file, and in
// either case no Content-Encoding but identity, a Content-Length (when sent)
// of exactly the range, and no other version of the file than the one named
// here. Anything else fails the request with UnexpectedAnswer, its response
// attached, and nothing written; a body that runs past the range fails it at
// once. An answer to a later attempt (after a drop or a suspension) is judged
// the same way for the bytes still missing, must be a 206, and fails the
// request with ResumeFailed when it is not the one.
struct ExpectedRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t completeLength = 0;
  // The version of the file: an answer whose ETag differs from entityTag, or,
  // without one here, whose Last-Modified differs from lastModified, carries
  // other bytes. An answer without the field says nothing against it.
  std::optional<std::string> entityTag{};
  std::optional<std::string> lastModified{};

  std::int64_t length() const { return last - first + 1; }
};

// Transient failures are retried inside the request: connection errors,
// time-outs and, when an expected range is given, the answers 408, 429, 500,
// 502, 503 and 504. Each retry continues after the bytes already written with
// a narrowed Range and every other field of the request (If-Range included),
// as resume() does. It waits the next of `delays`, scaled by a random factor
// between 0.8 and 1.2 so that parallel requests do not return in step, or what
// the answer's Retry-After asks, at most maxRetryAfter. Everything else fails
// at once. A request suspended while it waits retries only once resumed; a
// cancelled one ends at once.
struct RetryPolicy {
  std::vector<std::chrono::milliseconds> delays;  // one per retry; empty: none
  std::chrono::milliseconds maxRetryAfter = std::chrono::seconds(30);
};

struct RetryNotice {
  int retry = 0;  // 1 for the first retry; 0 for a silent connection replaced
  int retries = 0;
  std::chrono::milliseconds delay{0};
  std::string reason;  // printable
};

struct DownloadOptions {
  QString url;
  HttpHeaders headers;  // sent in order after the client's own fields
  QString destination;
  // Without one, any answer is taken and its body written (status codes are
  // not judged, and only transport failures fail the request).
  std::optional<ExpectedRange> expected;
  std::shared_ptr<DispatchQueue> progressQueue;  // the global utility queue when unset
  DownloadProgressHandler progress;
  std::shared_ptr<DispatchQueue> completionQueue;  // the global utility queue when unset
  DownloadCompletionHandler completion;
  RetryPolicy retry;
  // Runs on completionQueue before each retry's wait.
  std::function<void(const RetryNotice&)> onRetry;
};

// A session for GET downloads straight to files. Connections are kept and
// reused across requests.
class DownloadSession {
 public:
  virtual ~DownloadSession() = default;

  // Starts a GET of `url` with `headers` at once. The body streams to a
  // temporary file beside `destination`; when the transfer completes it
  // replaces `destination`, creating missing folders. On a failure nothing is
  // left at `destination`'s temporary name. `progress` runs on `progressQueue`
  // with the completed fraction (0 to 1, by the expected range or the
  // Content-Length of the first answer; without either, only the final 1.0);
  // `completion` runs exactly once on `completionQueue`. Neither runs on the
  // calling thread. Only http and https are fetched, and redirects only to
  // https (at most 10, the shared client's policy); anything else fails with
  // UnsupportedUrl.
  virtual std::shared_ptr<DownloadRequest> download(DownloadOptions options) = 0;
};

std::shared_ptr<DownloadSession> makeDownloadSession(DownloadSessionConfiguration configuration = {});

// Settings read once from the environment, adjustable by tests before use.
// Every request copies them when it is made (on the caller's thread).
struct HttpSettings {
  QString caFile;  // OVDOWNLOADER_CA_FILE: replaces the system CA store when set (both clients)
  std::chrono::milliseconds sharedConnectTimeout = std::chrono::seconds(30);
  std::chrono::milliseconds sharedIdleTimeout = std::chrono::seconds(60);
  // A service that answers one byte at a time never trips the idle time-out;
  // this bounds the whole exchange.
  std::chrono::milliseconds sharedTotalTimeout = std::chrono::seconds(60);
};
HttpSettings& httpSettings();

// A user name and password for a proxy that asks for one (407).
struct ProxyLogin {
  QString user;
  QString password;
};

struct ProxyLoginQuestion {
  QString proxy;         // the proxy that asks, "host:port"
  int attempt = 1;       // 1 for the first question; 2 and 3 follow refused logins
  bool refused = false;  // a login for this proxy was tried and refused
};

// Answers one question, once, on any thread: a login, or none to give the
// requests that wait for it up.
using ProxyLoginAnswer = std::function<void(std::optional<ProxyLogin> login)>;
using ProxyLoginSource = std::function<void(const ProxyLoginQuestion& question, ProxyLoginAnswer answer)>;

// Who is asked when a proxy answers 407: the window's dialog, the unattended
// mode's environment variables. Without one (or with nullptr) a 407 fails the
// request with ProxyAuthentication.
//
// However many requests the proxy refuses at once, the source is asked once
// and every one of them waits for that answer, off the HTTP client's thread;
// each then goes on with the login, and so does every later request through
// that proxy (libcurl picks Basic, Digest or NTLM, CURLAUTH_ANY). A refused
// login asks again, at most three questions in a row. The source runs on the
// global utility queue; the login stays in memory and is never logged.
void setProxyLoginSource(ProxyLoginSource source);

}  // namespace ov
