#pragma once

#include <QStringList>
#include <functional>

#include "ini/Config.h"
#include "ini/ParseError.h"

namespace ov::test {

// A document as one line of text, for tables: each section as "[name]"
// followed by its settings as "key=value;" in key order (a QHash keeps none).
inline QString describe(const Config& config) {
  QString text;
  for (const Section& section : config.sections) {
    QStringList settings;
    for (const auto& [key, value] : section.settings.asKeyValueRange()) settings << key + u'=' + value + u';';
    settings.sort();
    text += u'[' + section.name + u']' + settings.join(QString());
  }
  return text;
}

// What reading gives: the document described, or the parse error's description.
inline QString outcome(const std::function<Config()>& read) {
  try {
    return describe(read());
  } catch (const ParseError& error) {
    return error.description();
  }
}

}  // namespace ov::test
