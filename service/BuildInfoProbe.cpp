#include <QList>

#include "engine/OVDownloadMgr.h"
#include "platform/AsciiText.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "service/ServiceRequest.h"

namespace ov {

namespace {

// The installer's SHA-256 when the answer names one: Repr-Digest (RFC 9530,
// "sha-256=:BASE64:") or, failing that, the older Digest (RFC 3230,
// "SHA-256=BASE64"). Either may list several algorithms.
std::optional<QByteArray> announcedSha256(const HttpResponse& response) {
  const auto pick = [](const std::optional<std::string>& field,
                       bool structured) -> std::optional<QByteArray> {
    if (!field) return std::nullopt;
    for (QByteArray member : QByteArray::fromStdString(*field).split(',')) {
      member = member.trimmed();
      const qsizetype equals = member.indexOf('=');
      if (equals < 0 || !equalsIgnoringCase(member.left(equals).trimmed().toStdString(), "sha-256")) continue;
      QByteArray value = member.mid(equals + 1).trimmed();
      if (structured) {
        if (value.size() < 2 || !value.startsWith(':') || !value.endsWith(':')) return std::nullopt;
        value = value.mid(1, value.size() - 2);
      }
      const auto decoded = QByteArray::fromBase64Encoding(value, QByteArray::AbortOnBase64DecodingErrors);
      if (!decoded || decoded.decoded.size() != 32) return std::nullopt;
      return decoded.decoded;
    }
    return std::nullopt;
  };
  if (auto digest = pick(response.value("Repr-Digest"), true)) return digest;
  return pick(response.value("Digest"), false);
}

}  // namespace

bool OVDownloadMgr::getBuildInfo(const QString& sourceUrl) {
  OV_OFF_MAIN_THREAD();
  bool result = false;
  // The same representation the ranges will fetch: the installer's bytes as
  // stored, never a compressed variant with a size and tag of its own.
  const HttpHeaders headers{{"Accept-Encoding", "identity"}};
  sendAndWait(sourceUrl, HttpMethod::Head, {}, headers, [&](const DataResponse& answer) {
    if (answer.response) {
      // Read whatever the status: a 404 that names a length still sets the size.
      if (const auto length = answer.response->value("Content-Length"))
        i64FileSize = parseDecimalInteger(QString::fromStdString(*length)).value_or(0);
      if (const auto tag = answer.response->value("Etag")) szETag = QString::fromStdString(*tag);
      szLastModified = QString::fromStdString(answer.response->value("Last-Modified").value_or(""));
      installerSha256 = announcedSha256(*answer.response);

      outputLine(QStringLiteral("SendHttpPostRequset to getBuildInfo, Status Code = ") +
                 QString::number(answer.response->statusCode));
      if (answer.response->statusCode != 200) {
        systemLog(QStringLiteral("[OVDownloader]getBuildInfo failed!"));
      } else {
        systemLog(QStringLiteral("[OVDownloader]getBuildInfo succeed! File Size : ") +
                  QString::number(i64FileSize.load()) + QStringLiteral(", ETag : ") + szETag);
        result = true;
      }
    }
  });
  return result;
}

}  // namespace ov
