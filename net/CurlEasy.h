#pragma once

#include <curl/curl.h>

#include <QString>
#include <chrono>
#include <string>
#include <string_view>

#include "net/HttpClient.h"

namespace ov::curl {

// Redirects one request follows, all its hops together.
inline constexpr long kMaxRedirects = 10;

// What every request of this program shares: only http and https, redirects
// only to https and at most 10 of them, HTTP/1.1 (so parallel range
// requests travel over parallel connections), TLS peer and host always
// verified, the CA file of httpSettings() in place of the system store when one
// is set, and our User-Agent. The proxy is each attempt's own (RequestRoute).
struct EasySettings {
  std::string url;
  std::string caFile;  // in the file system's encoding; empty for the system store
  std::chrono::milliseconds connectTimeout{30000};
};

// A new easy handle with those settings. `errorBuffer` (CURL_ERROR_SIZE bytes)
// receives libcurl's detailed message. Header lines go to `onHeader` and body
// bytes to `onBody`, each called with `owner`. Multi thread.
using DataCallback = size_t (*)(char* data, size_t size, size_t count, void* owner);
CURL* makeEasy(const EasySettings& settings, char* errorBuffer, void* owner, DataCallback onHeader,
               DataCallback onBody);

// Whether `url` names an http or https resource; nothing else is ever fetched.
bool isFetchableUrl(std::string_view url);

// A deep copy of `text` that shares no buffer with it. QString counts the
// owners of a shared buffer inside Qt, where ThreadSanitizer cannot see the
// ordering, so text handed to the multi thread is copied on the way in.
std::string ownCopy(const QString& text);
std::string ownFileName(const QString& path);

// The kind and printable description of a libcurl failure.
HttpError errorFor(CURLcode code, const char* errorBuffer);

// An owned curl_slist of request header lines. Our own fields come first;
// libcurl's "Accept" and "Expect" are suppressed so that the wire carries Host,
// User-Agent, the client's Accept-Encoding (when decoding answers) and then
// the caller's fields in the caller's order.
class HeaderList {
 public:
  explicit HeaderList(const HttpHeaders& headers);
  ~HeaderList();
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

}  // namespace ov::curl
