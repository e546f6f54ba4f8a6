#include "service/ServiceRequest.h"

#include <QByteArray>
#include <limits>
#include <memory>
#include <mutex>

#include "BuildConfig.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"

namespace ov {

namespace {

std::mutex hostMutex;
std::optional<QString> testHost;

}  // namespace

QString serviceBase() {
  QString host;
  {
    std::lock_guard lk(hostMutex);
    if (testHost) host = *testHost;
  }
  if (host.isEmpty()) host = qEnvironmentVariable("OVDOWNLOADER_SERVICE_HOST");
  if (host.isEmpty()) host = QStringLiteral(OV_SERVICE_HOST);
  return QStringLiteral("https://") + host;
}

void setServiceHostForTesting(const std::optional<QString>& host) {
  std::lock_guard lk(hostMutex);
  testHost = host;
}

QString serviceEndpoint(const char* endpoint) {
  return serviceBase() + QStringLiteral("/prog/util/downloader/") + QLatin1String(endpoint);
}

HttpHeaders standardServiceHeaders() {
  return {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept-Encoding", "gzip, deflate"}};
}

void sendAndWait(const QString& url, HttpMethod method, const FormFields& fields, const HttpHeaders& headers,
                 const std::function<void(const DataResponse&)>& onAnswer) {
  OV_OFF_MAIN_THREAD();
  // The answer runs on a queue of its own, never on this thread, so waiting
  // here cannot deadlock whoever calls us.
  Semaphore answered(0);
  sharedHttpClient().request(url, method, fields, headers, makeConcurrentQueue("orvalen"),
                             [&](const DataResponse& answer) {
                               onAnswer(answer);
                               answered.signal();
                             });
  answered.wait();
}

void postAndWait(const char* endpoint, const FormFields& fields,
                 const std::function<void(const DataResponse&)>& onAnswer) {
  sendAndWait(serviceEndpoint(endpoint), HttpMethod::Post, fields, standardServiceHeaders(), onAnswer);
}

bool SendHttpPostRequsetString(const QString& url, const std::optional<HttpHeaders>& headers,
                               const FormFields& parameters,
                               const std::function<bool(const QString&)>& responseDataHandler) {
  bool result = false;
  sendAndWait(url, HttpMethod::Post, parameters, headers.value_or(HttpHeaders{}),
              [&](const DataResponse& answer) {
                if (answer.text) {
                  result = responseDataHandler(*answer.text);
                } else {
                  outputLine(QStringLiteral("Failure"));
                  outputLine(QString::fromStdString(answer.error ? answer.error->description : "no answer"));
                }
                if (answer.response)
                  outputLine(QStringLiteral("SendHttpPostRequsetString() Status Code = ") +
                             QString::number(answer.response->statusCode));
              });
  return result;
}

std::optional<std::int64_t> parseDecimalInteger(const QString& text) {
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulate the magnitude as unsigned so that the most negative value fits.
  const std::uint64_t limit = negative ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                       : std::uint64_t(std::numeric_limits<std::int64_t>::max());
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    const std::uint64_t digit = c - u'0';
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  if (magnitude == limit) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(magnitude);
}

}  // namespace ov
