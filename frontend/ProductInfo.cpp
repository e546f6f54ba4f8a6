#include "frontend/ProductInfo.h"

#include <QStringList>
#include <exception>

#include "ini/IniReader.h"
#include "ini/TextFile.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

namespace ov {

namespace {

const QString kSection = QStringLiteral("Ureg_Info");

}  // namespace

QString makeInfoPath() {
  return Bundle::main().bundlePath() + QStringLiteral("/Contents/Resources/MakeInfo.ini");
}

QString makeInfoLines(const QString& source) {
  QString result;
  for (const QString& piece : source.split(u'/', Qt::SkipEmptyParts)) {
    result += piece;
    result += u'\n';
  }
  return result;
}

std::optional<Config> loadMakeInfo() {
  std::optional<Config> parsed;
  try {
    parsed = parseINI(makeInfoLines(readTextFile(makeInfoPath())));
  } catch (const std::exception&) {
    systemLog(QStringLiteral("[OVDownloader]failed to load MakeInfo.ini"));
    return std::nullopt;
  }
  systemLog(QStringLiteral("[OVDownloader]load MakeInfo.ini done."));
  return parsed;
}

ProductInfo productOf(const Config& makeInfo) {
  ProductInfo info;
  info.sr = makeInfo.get(kSection, QStringLiteral("SR_No"));
  info.product = makeInfo.get(kSection, QStringLiteral("Prod_Name"));
  info.displayProductName = makeInfo.get(kSection, QStringLiteral("DisplayProd_Name"));
  info.version = makeInfo.get(kSection, QStringLiteral("Prod_Ver"));
  info.versionType = makeInfo.get(kSection, QStringLiteral("RegVType"));
  systemLog(QStringLiteral("[OVDownloader]MakeInfo.ini content : SR = ") + info.sr +
            QStringLiteral(", Product = ") + info.product + QStringLiteral(", DisplayProductName = ") +
            info.displayProductName + QStringLiteral(", Version = ") + info.version +
            QStringLiteral(", VersionType = ") + info.versionType);
  return info;
}

}  // namespace ov
