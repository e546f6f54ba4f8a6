#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace ov {

// "S-1-" + the upper-case SHA-256 hex of (platform UUID text + login name);
// empty when the platform UUID cannot be read. On Linux the platform UUID text
// is the machine id (/etc/machine-id, else /var/lib/dbus/machine-id).
QString getUUID();

// The three-letter code of the user's most preferred UI language ("ENU", "DEU", ...).
QString getSystemLanguageCode();

// A locale as a full language tag, language-Script-REGION ("zh-Hant-TW"), the
// form macOS reports preferred languages in.
QString languageTagForLocale(const QLocale& locale);

// Seams for tests: the platform UUID text (nullopt: unreadable), the login
// name and the preferred languages. Empty functions restore the real sources.
void setPlatformUuidForTesting(std::function<std::optional<QString>()> source);
void setLoginNameForTesting(std::function<QString()> source);
void setPreferredLanguagesForTesting(std::function<QStringList()> source);

}  // namespace ov
