#pragma once

#include <QString>
#include <optional>

namespace ov {

// The application bundle: <bundle>/Contents/MacOS/<executable>. Found from the
// executable's location, so a copied bundle runs anywhere.
class Bundle {
 public:
  static Bundle& main();

  QString bundlePath() const;                                   // without trailing slash
  QString resourcePath() const;                                 // <bundle>/Contents/Resources
  std::optional<QString> identifier() const;                    // CFBundleIdentifier
  std::optional<QString> infoString(const QString& key) const;  // a text value of Info.plist
  // Another executable of the bundle, beside the running one (<bundle>/Contents/MacOS/<name>).
  QString executablePath(const QString& name) const;

  // Tests point the main bundle elsewhere; an empty path restores the real one.
  static void setMainBundlePathForTesting(const QString& path);

 private:
  Bundle() = default;
};

// The identifier used when the bundle names none.
inline constexpr const char* kFallbackBundleIdentifier = "com.orvalen.OVDownloader";

}  // namespace ov
