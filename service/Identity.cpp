#include "service/Identity.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QSysInfo>
#include <mutex>
#include <vector>

#include "platform/UserAccount.h"

namespace ov {

namespace {

std::mutex seamMutex;
std::function<std::optional<QString>()> uuidSource;
std::function<QString()> loginSource;
std::function<QStringList()> languagesSource;

// The machine id the system keeps (/etc/machine-id, else /var/lib/dbus/machine-id),
// exactly as written there.
std::optional<QString> platformUuidText() {
  const QByteArray id = QSysInfo::machineUniqueId();
  if (id.isEmpty()) return std::nullopt;
  return QString::fromLatin1(id);
}

// The user's preferred UI languages, most preferred first.
QStringList preferredLanguages() {
  QStringList tags;
  for (const QString& entry : QLocale::system().uiLanguages()) {
    const QLocale locale(entry);
    if (locale.language() != QLocale::C) tags << languageTagForLocale(locale);
  }
  return tags;
}

}  // namespace

QString languageTagForLocale(const QLocale& locale) {
  // The script is spelled out because only it tells Simplified from Traditional Chinese.
  QString tag = QLocale::languageToCode(locale.language());
  if (locale.script() != QLocale::AnyScript) tag += u'-' + QLocale::scriptToCode(locale.script());
  if (locale.territory() != QLocale::AnyTerritory) tag += u'-' + QLocale::territoryToCode(locale.territory());
  return tag;
}

QString getUUID() {
  std::optional<QString> uuid;
  QString user;
  {
    std::lock_guard lk(seamMutex);
    uuid = uuidSource ? uuidSource() : platformUuidText();
    user = loginSource ? loginSource() : loginName();
  }
  if (!uuid || uuid->isEmpty()) return QString();
  const QByteArray digest = QCryptographicHash::hash((*uuid + user).toUtf8(), QCryptographicHash::Sha256);
  return QStringLiteral("S-1-") + QString::fromLatin1(digest.toHex()).toUpper();
}

QString getSystemLanguageCode() {
  QStringList languages;
  {
    std::lock_guard lk(seamMutex);
    languages = languagesSource ? languagesSource() : preferredLanguages();
  }
  const QString first = languages.isEmpty() ? QStringLiteral("en-us") : languages.first().toLower();
  static const std::pair<const char*, const char*> table[] = {
      {"zh-hans", "CHS"}, {"zh-hant", "CHT"}, {"de", "DEU"}, {"es", "ESP"}, {"fr", "FRA"},
      {"it", "ITA"},      {"ja", "JPN"},      {"ko", "KOR"}, {"nl", "NLD"},
  };
  for (const auto& [prefix, code] : table)
    if (first.startsWith(QLatin1String(prefix))) return QLatin1String(code);
  return QStringLiteral("ENU");
}

void setPlatformUuidForTesting(std::function<std::optional<QString>()> source) {
  std::lock_guard lk(seamMutex);
  uuidSource = std::move(source);
}

void setLoginNameForTesting(std::function<QString()> source) {
  std::lock_guard lk(seamMutex);
  loginSource = std::move(source);
}

void setPreferredLanguagesForTesting(std::function<QStringList()> source) {
  std::lock_guard lk(seamMutex);
  languagesSource = std::move(source);
}

}  // namespace ov
