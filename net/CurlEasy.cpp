#include "net/CurlEasy.h"

#include <QFile>

#include "BuildConfig.h"
#include "platform/AsciiText.h"

namespace ov::curl {
namespace {

constexpr const char* kProtocols = "http,https";
// A redirect is followed only to https: one plain-http hop would let anyone on
// the path swap the installer for a same-size one.
constexpr const char* kRedirectProtocols = "https";
constexpr const char* kUserAgent = "OVDownloader/" OV_VERSION;

}  // namespace

CURL* makeEasy(const EasySettings& settings, char* errorBuffer, void* owner, DataCallback onHeader,
               DataCallback onBody) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) return nullptr;
  errorBuffer[0] = '\0';
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(easy, CURLOPT_URL, settings.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kProtocols);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kRedirectProtocols);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings.caFile.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, settings.caFile.c_str());
    // A CA folder compiled into libcurl would still add the system's roots.
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  }
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout.count()));
  // Through an HTTPS proxy the CONNECT answer would otherwise look like the first response.
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, owner);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, owner);
  return easy;
}

bool isFetchableUrl(std::string_view url) {
  return startsWithIgnoringCase(url, "http://") || startsWithIgnoringCase(url, "https://");
}

std::string ownCopy(const QString& text) {
  return text.toStdString();
}

std::string ownFileName(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

HttpError errorFor(CURLcode code, const char* errorBuffer) {
  HttpError error;
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      error.kind = HttpError::Kind::TimedOut;
      break;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      error.kind = HttpError::Kind::Connection;
      break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      error.kind = HttpError::Kind::Tls;
      break;
    case CURLE_WRITE_ERROR:
      error.kind = HttpError::Kind::File;
      break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      error.kind = HttpError::Kind::UnsupportedUrl;
      break;
    case CURLE_ABORTED_BY_CALLBACK:
      error.kind = HttpError::Kind::Cancelled;
      break;
    default:
      error.kind = HttpError::Kind::Other;
      break;
  }
  error.description = curl_easy_strerror(code);
  if (errorBuffer != nullptr && errorBuffer[0] != '\0') {
    error.description += ": ";
    error.description += errorBuffer;
  }
  return error;
}

HeaderList::HeaderList(const HttpHeaders& headers) {
  list_ = curl_slist_append(list_, "Accept:");
  list_ = curl_slist_append(list_, "Expect:");
  for (const auto& header : headers) {
    // "Name;" is libcurl's way of sending a field with an empty value ("Name:" removes it).
    const std::string line = header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
    list_ = curl_slist_append(list_, line.c_str());
  }
}

HeaderList::~HeaderList() {
  curl_slist_free_all(list_);
}

}  // namespace ov::curl
