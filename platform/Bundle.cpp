#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <map>
#include <mutex>

namespace ov {
namespace {

struct BundleState {
  std::mutex mutex;
  QString testPath;                                     // set by tests; empty: the real bundle
  std::optional<std::map<QString, QString>> infoCache;  // strings of Info.plist, read once
  bool infoRead = false;
};

BundleState& state() {
  static BundleState s;
  return s;
}

QString executableDirectory() {
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
  // Before the application object exists Qt cannot say; the kernel can.
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

// <bundle>/Contents/MacOS/<exe>: the bundle is two folders above the
// executable's. An executable outside a bundle is its own bundle folder, as the
// platform's bundle API treats it.
QString realBundlePath() {
  QString dir = QDir::cleanPath(executableDirectory());
  if (dir.endsWith(QStringLiteral("/Contents/MacOS"))) return QDir::cleanPath(dir + QStringLiteral("/../.."));
  return dir;
}

QString currentBundlePath(BundleState& s) {
  return s.testPath.isEmpty() ? realBundlePath() : s.testPath;
}

// The top-level dictionary's string values of an XML property list. Keys whose
// values are not strings (numbers, Booleans, arrays, dictionaries) are left out.
// Nothing when the file is missing or is not a well-formed XML property list
// (a binary property list, for one).
std::optional<std::map<QString, QString>> readInfoStrings(const QString& plistPath) {
  QFile file(plistPath);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QXmlStreamReader xml(&file);
  std::map<QString, QString> strings;
  bool inDict = false;
  while (xml.readNextStartElement()) {
    if (!inDict) {
      if (xml.name() == u"plist") continue;
      if (xml.name() != u"dict") return std::nullopt;
      inDict = true;
      continue;
    }
    if (xml.name() != u"key") {
      xml.skipCurrentElement();
      continue;
    }
    const QString key = xml.readElementText();
    if (!xml.readNextStartElement()) break;
    if (xml.name() == u"string")
      strings[key] = xml.readElementText();
    else
      xml.skipCurrentElement();
  }
  if (xml.hasError() || !inDict) return std::nullopt;
  return strings;
}

}  // namespace

Bundle& Bundle::main() {
  static Bundle bundle;
  return bundle;
}

QString Bundle::bundlePath() const {
  BundleState& s = state();
  std::lock_guard lk(s.mutex);
  return currentBundlePath(s);
}

QString Bundle::resourcePath() const {
  return bundlePath() + QStringLiteral("/Contents/Resources");
}

QString Bundle::executablePath(const QString& name) const {
  BundleState& s = state();
  std::lock_guard lk(s.mutex);
  const QString folder = s.testPath.isEmpty() ? QDir::cleanPath(executableDirectory())
                                              : s.testPath + QStringLiteral("/Contents/MacOS");
  return folder + u'/' + name;
}

std::optional<QString> Bundle::identifier() const {
  return infoString(QStringLiteral("CFBundleIdentifier"));
}

std::optional<QString> Bundle::infoString(const QString& key) const {
  BundleState& s = state();
  std::lock_guard lk(s.mutex);
  if (!s.infoRead) {
    s.infoCache = readInfoStrings(currentBundlePath(s) + QStringLiteral("/Contents/Info.plist"));
    s.infoRead = true;
  }
  if (!s.infoCache) return std::nullopt;
  const auto it = s.infoCache->find(key);
  if (it == s.infoCache->end()) return std::nullopt;
  return it->second;
}

void Bundle::setMainBundlePathForTesting(const QString& path) {
  BundleState& s = state();
  std::lock_guard lk(s.mutex);
  s.testPath = path.isEmpty() ? QString() : QDir::cleanPath(path);
  s.infoCache.reset();
  s.infoRead = false;
}

}  // namespace ov
