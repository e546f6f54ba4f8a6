#include "engine/OVDownloadMgr.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"
#include "service/ServiceRequest.h"

namespace ov {

namespace {

QString withoutCrLf(QString text) {
  return text.remove(QStringLiteral("\r\n"));
}

QString withHttpsScheme(QString text) {
  return text.replace(QStringLiteral("http:"), QStringLiteral("https:"));
}

}  // namespace

FormFields OVDownloadMgr::productFields(bool andAgent) const {
  FormFields fields{
      {QStringLiteral("PRODUCTNAME"), product.value_or(QString())},
      {QStringLiteral("PRODUCTVERSION"), version.value_or(QString())},
      {QStringLiteral("VERSIONTYPE"), versionType.value_or(QString())},
      {QStringLiteral("SR"), sr.value_or(QString())},
  };
  if (andAgent) {
    fields.emplace(QStringLiteral("VID"), vid);
    fields.emplace(QStringLiteral("LANGUAGE"), language.value_or(QString()));
    fields.emplace(QStringLiteral("platform"), platform);
    fields.emplace(QStringLiteral("ostype"), ostype);
  }
  return fields;
}

QString OVDownloadMgr::queryDownLoadURL() {
  OV_OFF_MAIN_THREAD();
  const FormFields fields = productFields(true);

  // The markers are tested in this order, so "ERROR: 000" wins over
  // everything and an update demand without a link is a server error.
  QString answerText;
  const bool gotLink = SendHttpPostRequsetString(
      serviceEndpoint("get-link.jsp"), standardServiceHeaders(), fields, [&](const QString& body) {
        answerText = body;
        if (answerText.contains(QStringLiteral("ERROR: 000")) ||
            !answerText.contains(QStringLiteral("http"))) {
          queryDownloadURLErrorID = ERR_ID_Query_Download_URL::EQDU_SERVER_ERROR;
          return false;
        }
        if (!answerText.contains(QStringLiteral("ERROR: 001"))) return true;
        const QString newDownloader =
            withHttpsScheme(withoutCrLf(QString(answerText).remove(QStringLiteral("ERROR: 001"))));
        newDownloaderURL = newDownloader;
        systemLog(QStringLiteral("[OVDownloader]Need Update, new downloader URL : ") + newDownloader);
        queryDownloadURLErrorID = ERR_ID_Query_Download_URL::EQDU_NEED_UPDATE;
        return false;
      });

  if (!gotLink) {
    systemLog(QStringLiteral("[OVDownloader]queryDownLoadURL failed!"));
    return QString();
  }
  QString link = withoutCrLf(withHttpsScheme(answerText));
  systemLog(QStringLiteral("[OVDownloader]queryDownLoadURL succeed! retrivedDownloadURL : ") + link);
  return link;
}

}  // namespace ov
