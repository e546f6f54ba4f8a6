#include "ini/Config.h"

#include <algorithm>

namespace ov {

namespace {

template <typename Sections>
auto firstNamed(Sections& sections, const QString& name) {
  return std::find_if(sections.begin(), sections.end(),
                      [&](const Section& section) { return section.name == name; });
}

}  // namespace

std::optional<QString> Section::operator[](const QString& key) const {
  const auto found = settings.constFind(key);
  if (found == settings.cend()) return std::nullopt;
  return found.value();
}

bool Section::boolValue(const QString& key) const {
  const auto value = (*this)[key];
  return value && (*value == u"1" || *value == u"true" || *value == u"yes");
}

std::optional<Section> Config::operator[](const QString& name) const {
  const auto found = firstNamed(sections, name);
  if (found == sections.end()) return std::nullopt;
  return *found;
}

QString Config::get(const QString& sectionName, const QString& settingKey,
                    const QString& defaultValue) const {
  const auto section = firstNamed(sections, sectionName);
  if (section == sections.end()) return defaultValue;
  return (*section)[settingKey].value_or(defaultValue);
}

void Config::set(const QString& sectionName, const QString& settingKey, const QString& settingValue) {
  const auto section = firstNamed(sections, sectionName);
  if (section != sections.end()) {
    section->settings.insert(settingKey, settingValue);
    return;
  }
  sections.push_back(Section{sectionName, {{settingKey, settingValue}}});
}

}  // namespace ov
