#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

namespace ov {

// Where the bundle keeps its compiled translations: <bundle>/Contents/Resources/translations.
QString translationsFolder();

// The translation file in `folder` for the most preferred of `locale`'s UI
// languages: ovdownloader_<tag>.qm, trying each tag from the full one down to
// the bare language ("zh_Hant_TW", "zh_Hant", "zh"). Empty when English comes
// first (the texts are English already) or no preferred language has a file.
QString translationFileFor(const QLocale& locale, const QString& folder);

// Loads that translation from the bundle and installs it in the application.
// Answers the translator, owned by the application object, or null when there
// is none: the English texts then show. Main thread, once the application
// object exists, before any text of the string table is read.
QTranslator* installTranslations(const QLocale& locale = QLocale());

}  // namespace ov
