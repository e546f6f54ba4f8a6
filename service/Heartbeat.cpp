#include "engine/OVDownloadMgr.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "service/ServiceRequest.h"

namespace ov {

std::int64_t OVDownloadMgr::queryHeartbeatTime() {
  OV_OFF_MAIN_THREAD();
  const FormFields fields = productFields(false);
  std::int64_t interval = defaultHeartBeats;
  const bool answered = SendHttpPostRequsetString(
      serviceEndpoint("heartbeat.jsp"), standardServiceHeaders(), fields, [&](const QString& body) {
        // Any text is an answer; what does not read as a number means the default.
        interval =
            parseDecimalInteger(QString(body).remove(QStringLiteral("\r\n"))).value_or(defaultHeartBeats);
        return true;
      });
  if (answered) {
    systemLog(QStringLiteral("[OVDownloader]queryHeartbeatTime succeeded! retrivedHeartbeatTime : ") +
              QString::number(interval));
    return interval;
  }
  systemLog(QStringLiteral("[OVDownloader]queryHeartbeatTime failed! defaultHeartBeats : ") +
            QString::number(defaultHeartBeats));
  return defaultHeartBeats;
}

void OVDownloadMgr::onHeartbeatTimer() {
  OV_ON_MAIN_THREAD();
  // The tick only hands the report on, so a slow service never delays the next tick.
  globalUtilityQueue().async([this, work = beginAsyncWork()] { sendLog_UpdateSize(); });
}

}  // namespace ov
