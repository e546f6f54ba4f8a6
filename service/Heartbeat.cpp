#include "engine/OVDownloadMgr.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "service/ServiceRequest.h"

std::int64_t OVDownloadMgr::queryHeartbeatTime() {
  const ov::FormFields fields{
      {QStringLiteral("PRODUCTNAME"), product.value_or(QString())},
      {QStringLiteral("PRODUCTVERSION"), version.value_or(QString())},
      {QStringLiteral("VERSIONTYPE"), versionType.value_or(QString())},
      {QStringLiteral("SR"), sr.value_or(QString())},
  };
  std::int64_t interval = defaultHeartBeats;
  const bool answered = SendHttpPostRequsetString(
      serviceBase() + QStringLiteral("/prog/util/downloader/heartbeat.jsp"), standardServiceHeaders(), fields,
      [&](const QString& body) {
        // Any text is an answer; what does not read as a number means the default.
        interval =
            parseDecimalInteger(QString(body).remove(QStringLiteral("\r\n"))).value_or(defaultHeartBeats);
        return true;
      });
  if (answered) {
    ov::systemLog(QStringLiteral("[OVDownloader]queryHeartbeatTime succeeded! retrivedHeartbeatTime : ") +
                  QString::number(interval));
    return interval;
  }
  ov::systemLog(QStringLiteral("[OVDownloader]queryHeartbeatTime failed! defaultHeartBeats : ") +
                QString::number(defaultHeartBeats));
  return defaultHeartBeats;
}

void OVDownloadMgr::onHeartbeatTimer() {
  // The tick only hands the report on, so a slow service never delays the next tick.
  ov::globalUtilityQueue().async([this, work = beginAsyncWork()] { sendLog_UpdateSize(); });
}
