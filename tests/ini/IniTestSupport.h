#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <ostream>
#include <utility>
#include <vector>

#include "ini/Config.h"

// Readable failure messages for documents: settings sorted by key, so two
// equal maps print alike whatever their iteration order.
inline void PrintTo(const Section& section, std::ostream* out) {
  std::vector<std::pair<QString, QString>> settings(section.settings.keyValueBegin(),
                                                    section.settings.keyValueEnd());
  std::sort(settings.begin(), settings.end());
  *out << "[" << section.name.toStdString() << "]{";
  for (const auto& [key, value] : settings)
    *out << " \"" << key.toStdString() << "\"=\"" << value.toStdString() << "\"";
  *out << " }";
}

inline void PrintTo(const Config& config, std::ostream* out) {
  *out << config.sections.size() << " sections:";
  for (const Section& section : config.sections) {
    *out << " ";
    PrintTo(section, out);
  }
}

// A fresh folder per test, removed with the fixture.
class IniSandbox : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

  QString path(const QString& name) const { return folder_.filePath(name); }
  QString folderPath() const { return folder_.path(); }

  QString writeFile(const QString& name, const QByteArray& bytes) const {
    QFile file(path(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(file.write(bytes), bytes.size());
    return path(name);
  }

  QByteArray readFile(const QString& name) const {
    QFile file(path(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
  }

 private:
  QTemporaryDir folder_;
};
