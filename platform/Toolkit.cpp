#include "platform/Toolkit.h"

#include <QCoreApplication>
#include <atomic>

#include "platform/QtCoreToolkit.h"

namespace ov {
namespace {
std::atomic<Toolkit*> installed{nullptr};
}  // namespace

QString Toolkit::localizedString(const char* english, const char* comment) {
  if (english == nullptr) return {};
  // Translations are keyed by the English text in one context. The comment
  // (the string's IDS_ key) goes along as the disambiguation: an entry made
  // for exactly that pair is preferred, and QTranslator then falls back to the
  // entry keyed by the English text alone. Without a translation the English
  // text comes back unchanged.
  return QCoreApplication::translate("OVDownloader", english, comment);
}

Toolkit& toolkit() {
  Toolkit* current = installed.load();
  return current != nullptr ? *current : defaultToolkit();
}

void setToolkit(Toolkit* toolkit) {
  installed.store(toolkit);
}

}  // namespace ov
