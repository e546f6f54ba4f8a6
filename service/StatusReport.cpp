#include "service/StatusReport.h"

#include <cmath>
#include <memory>

#include "engine/OVDownloadMgr.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "service/ServiceRequest.h"

namespace ov {

std::optional<STATUS_ID> STATUS_IDFromRaw(int raw) {
  if (raw < 0 || raw > 9) return std::nullopt;
  return static_cast<STATUS_ID>(raw);
}

const std::map<STATUS_ID, QString>& STATUS_NAME_Dict() {
  static const std::map<STATUS_ID, QString> names{
      {STATUS_ID::SI_NOREQUEST, QString()},
      {STATUS_ID::SI_LAUNCH, QStringLiteral("Launch")},
      {STATUS_ID::SI_SIGNCHECKFAILED, QStringLiteral("SignCheckFailed")},
      {STATUS_ID::SI_INSTALL, QStringLiteral("Install")},
      {STATUS_ID::SI_BUILDCHANGE, QStringLiteral("BuildChange")},
      {STATUS_ID::SI_BUILDMISSING, QStringLiteral("BuildMissing")},
      {STATUS_ID::SI_DOWNLOADING, QStringLiteral("Downloading")},
      {STATUS_ID::SI_MD5FAILED, QStringLiteral("MD5CheckFailed")},
      {STATUS_ID::SI_CANCEL, QStringLiteral("Cancel")},
      {STATUS_ID::SI_COMPLETE, QStringLiteral("Complete")},
  };
  return names;
}

namespace {

// Reports are one-way: the status code is logged and nothing else of the
// answer is read. Logs the status line and, when a response arrived, the
// success or failure line.
void logReportAnswer(const DataResponse& answer, const QString& report,
                     const std::function<QString()>& successLine) {
  if (!answer.response) return;
  outputLine(QStringLiteral("SendHttpPostRequset to %1 Status Code = ").arg(report) +
             QString::number(answer.response->statusCode));
  if (answer.response->statusCode == 200)
    systemLog(successLine());
  else
    systemLog(QStringLiteral("[OVDownloader]%1 failed!").arg(report));
}

}  // namespace

void OVDownloadMgr::sendLog_UpdateInfo() {
  OV_OFF_MAIN_THREAD();
  FormFields fields = productFields(true);
  fields.emplace(QStringLiteral("TokenID"), szTokenID.value_or(QString()));
  fields.emplace(QStringLiteral("Locale"), locale.value_or(QString()));
  fields.emplace(QStringLiteral("UUID"), szUUID.value_or(QString()));
  {
    // A fresh link may replace a refused one while this report is on its way.
    std::shared_lock lk(lock);
    fields.emplace(QStringLiteral("url"), sourceUrl.value_or(QString()));
  }
  postAndWait("update-info.jsp", fields, [&](const DataResponse& answer) {
    logReportAnswer(answer, QStringLiteral("sendLog_UpdateInfo"), [&] {
      return QStringLiteral("[OVDownloader]sendLog_UpdateInfo succeed! TokenID : ") +
             szTokenID.value_or(QString());
    });
  });
}

void OVDownloadMgr::sendLog_UpdateStatus(const QString& strStatus, const QString& strDetailStatus,
                                         const QString& strCancelReason) {
  OV_OFF_MAIN_THREAD();
  if (!szTokenID) return;
  const FormFields fields{
      {QStringLiteral("TokenID"), *szTokenID},
      {QStringLiteral("status"), strStatus},
      {QStringLiteral("detail_status"), strDetailStatus},
      {QStringLiteral("CancelReason"), strCancelReason},
  };
  postAndWait("update-status.jsp", fields, [&](const DataResponse& answer) {
    logReportAnswer(answer, QStringLiteral("sendLog_UpdateStatus"), [&] {
      return QStringLiteral("[OVDownloader]sendLog_UpdateStatus succeed! TokenID : ") +
             szTokenID.value_or(QString()) + QStringLiteral(", Status : ") + strStatus +
             QStringLiteral(", DetailStatus : ") + strDetailStatus + QStringLiteral(", CancelReason : ") +
             strCancelReason;
    });
  });
}

void OVDownloadMgr::sendLog_UpdateSize() {
  downloadDuration = getCurrentDownloadDuration();
  const FormFields fields{
      {QStringLiteral("TokenID"), szTokenID.value_or(QString())},
      {QStringLiteral("fileSize"), QString::number(i64FileSize.load())},
      {QStringLiteral("currentDownloadSize"), QString::number(currentReceivedSize.load())},
      {QStringLiteral("Duration"),
       QString::number(static_cast<std::int64_t>(std::trunc(downloadDuration.load())))},
  };
  // The size report does not wait for its answer; the answer is logged with
  // the values of the moment it arrives.
  sharedHttpClient().request(
      serviceEndpoint("update-size-v2.jsp"), HttpMethod::Post, fields, standardServiceHeaders(),
      makeConcurrentQueue("orvalen"), [this, work = beginAsyncWork()](const DataResponse& answer) {
        logReportAnswer(answer, QStringLiteral("sendLog_UpdateSize"), [this] {
          return QStringLiteral("[OVDownloader]sendLog_UpdateSize succeed! TokenID : ") +
                 szTokenID.value_or(QString()) + QStringLiteral(", FileSize : ") +
                 QString::number(i64FileSize.load()) + QStringLiteral(", current received size : ") +
                 QString::number(currentReceivedSize.load()) + QStringLiteral(", Duration : ") +
                 QString::number(static_cast<std::int64_t>(std::trunc(downloadDuration.load())));
        });
      });
}

}  // namespace ov
