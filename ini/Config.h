#pragma once

#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace ov {

// The INI document: an ordered list of named sections, each a map of text
// settings. Plain values, copied rather than shared; no knowledge of files.
// Names and keys compare exactly (case-sensitive, no trimming, no folding).

struct Section {
  QString name;
  // One value per key; storing an existing key replaces its value. The
  // iteration order is unspecified and nothing may rely on it.
  QHash<QString, QString> settings;

  // The value stored under `key`, or nothing.
  std::optional<QString> operator[](const QString& key) const;

  // True exactly when the value under `key` is "1", "true" or "yes" (exact
  // case: "TRUE" and "Yes" are false); a missing key is false. Named
  // boolValue because `bool` cannot be a C++ member name.
  bool boolValue(const QString& key) const;

  friend bool operator==(const Section&, const Section&) = default;
};

struct Config {
  // In reading or appending order. Two sections may share a name; nothing
  // merges them, and every lookup below acts on the first.
  std::vector<Section> sections;

  // A copy of the first section called `name`, or nothing. A copy rather than
  // a pointer, so the answer stays valid when the document changes or was a
  // temporary (`parseINI(text)["A"]`).
  std::optional<Section> operator[](const QString& name) const;

  // The value of `settingKey` in the first section called `sectionName`, or
  // `defaultValue` when there is no such section or no such key.
  QString get(const QString& sectionName, const QString& settingKey,
              const QString& defaultValue = QString()) const;

  // Stores the setting in the first section called `sectionName` (replacing
  // an earlier value of the key); when there is none, appends a new section
  // holding just this setting.
  void set(const QString& sectionName, const QString& settingKey, const QString& settingValue);

  friend bool operator==(const Config&, const Config&) = default;
};

}  // namespace ov
