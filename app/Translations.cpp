#include "app/Translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTranslator>

#include "platform/Bundle.h"

namespace ov {

QString translationsFolder() {
  return Bundle::main().resourcePath() + QStringLiteral("/translations");
}

QString translationFileFor(const QLocale& locale, const QString& folder) {
  for (QString tag : locale.uiLanguages()) {
    tag.replace(u'-', u'_');
    // A user who prefers English before any translated language reads English,
    // even when a later preference has a translation.
    if (tag == u"en" || tag.startsWith(u"en_")) return {};
    for (;;) {
      const QString candidate = folder + QStringLiteral("/ovdownloader_") + tag + QStringLiteral(".qm");
      if (QFileInfo(candidate).isFile()) return candidate;
      const qsizetype cut = tag.lastIndexOf(u'_');
      if (cut <= 0) break;
      tag.truncate(cut);
    }
  }
  return {};
}

QTranslator* installTranslations(const QLocale& locale) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return nullptr;
  const QString file = translationFileFor(locale, translationsFolder());
  if (file.isEmpty()) return nullptr;
  auto* translator = new QTranslator(app);
  if (!translator->load(file) || !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace ov
