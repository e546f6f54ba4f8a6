#include "engine/OVDownloadMgr.h"
#include "platform/Log.h"
#include "service/ServiceRequest.h"

bool OVDownloadMgr::getBuildInfo(const QString& sourceUrl) {
  bool result = false;
  ov::Semaphore semaphore(0);
  ov::sharedHttpClient().request(
      sourceUrl, ov::HttpMethod::Head, {}, {}, ov::makeConcurrentQueue("orvalen"),
      [&](const ov::DataResponse& answer) {
        if (answer.response) {
          // Read whatever the status: a 404 that names a length still sets the size.
          if (const auto length = answer.response->value("Content-Length"))
            i64FileSize = parseDecimalInteger(QString::fromStdString(*length)).value_or(0);
          if (const auto tag = answer.response->value("Etag")) szETag = QString::fromStdString(*tag);

          ov::outputLine(QStringLiteral("SendHttpPostRequset to getBuildInfo, Status Code = ") +
                         QString::number(answer.response->statusCode));
          if (answer.response->statusCode != 200) {
            ov::systemLog(QStringLiteral("[OVDownloader]getBuildInfo failed!"));
          } else {
            ov::systemLog(QStringLiteral("[OVDownloader]getBuildInfo succeed! File Size : ") +
                          QString::number(i64FileSize.load()) + QStringLiteral(", ETag : ") + szETag);
            result = true;
          }
        }
        semaphore.signal();
      });
  semaphore.wait();
  return result;
}
