// The INI reader on large inputs: reading must stay linear in the text, so
// each input is about 10 MiB and should parse in well under a second.

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "ini/IniReader.h"

using namespace ov;

namespace {

constexpr qsizetype tenMiB = 10 * 1024 * 1024;

// One line: a section header and a single setting whose value fills the rest.
QByteArray oneLongLine() {
  QByteArray text("[Ureg_Info] Payload=");
  const QByteArray filler("abc def 123 ");
  while (text.size() < tenMiB) text += filler;
  return text;
}

// A million lines of about ten bytes: settings in sections of a thousand,
// every tenth line a comment.
QByteArray millionShortLines() {
  QByteArray text;
  text.reserve(tenMiB + 64);
  for (int line = 0; line < 1'000'000; ++line) {
    if (line % 1000 == 0) {
      text += "[S" + QByteArray::number(line / 1000) + "]\n";
    } else if (line % 10 == 0) {
      text += "; note\n";
    } else {
      text += "k" + QByteArray::number(line % 1000) + "=v" + QByteArray::number(line % 997) + "\n";
    }
  }
  return text;
}

// One line of "a=a=a=...": every value holds "=", so every setting steps back
// over the rest of the line.
QByteArray stepBackChain() {
  QByteArray text("[A]\n");
  while (text.size() < tenMiB) text += "a=";
  return text + "a";
}

// The inputs are written once, to a folder that lives as long as the process.
QString writeInput(const char* name, const std::function<QByteArray()>& make) {
  static QTemporaryDir folder;
  const QString path = folder.filePath(QString::fromLatin1(name));
  if (!QFile::exists(path)) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(make()) < 0) qFatal("cannot write %s", name);
  }
  return path;
}

void parseFile(benchmark::State& state, const char* name, const std::function<QByteArray()>& make) {
  const QString path = writeInput(name, make);
  for (auto _ : state) {
    const Config config = parseINIFile(path);
    benchmark::DoNotOptimize(config.sections.size());
  }
  state.SetBytesProcessed(state.iterations() * QFile(path).size());
}

void BM_IniOneLongLine(benchmark::State& state) {
  parseFile(state, "one-line.ini", oneLongLine);
}
void BM_IniMillionShortLines(benchmark::State& state) {
  parseFile(state, "short-lines.ini", millionShortLines);
}
void BM_IniStepBackChain(benchmark::State& state) {
  parseFile(state, "step-back.ini", stepBackChain);
}

}  // namespace

BENCHMARK(BM_IniOneLongLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IniMillionShortLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IniStepBackChain)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
