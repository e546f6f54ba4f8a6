#pragma once

#include <QString>
#include <algorithm>
#include <functional>
#include <ostream>
#include <utility>
#include <vector>

#include "ini/Config.h"
#include "ini/ParseError.h"

using namespace ov;

// A document as one line of text, for tables: each section as "[name]"
// followed by its settings as "key=value;" in key order (a QHash keeps none).
inline QString describe(const Config& config) {
  QString text;
  for (const Section& section : config.sections) {
    std::vector<std::pair<QString, QString>> settings(section.settings.keyValueBegin(),
                                                      section.settings.keyValueEnd());
    std::sort(settings.begin(), settings.end());
    text += u'[' + section.name + u']';
    for (const auto& [key, value] : settings) text += key + u'=' + value + u';';
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

inline void PrintTo(const Config& config, std::ostream* out) {
  *out << describe(config).toStdString();
}
