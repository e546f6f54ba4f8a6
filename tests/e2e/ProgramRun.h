#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

#include "tests/support/Sandbox.h"
#include "tools/refservice/ReferenceService.h"

namespace ov::test {

// One run of the real program: a copy of the built bundle in a sandboxed
// home, pointed at a reference service, offscreen, with a recording stand-in
// for xdg-open first on PATH.
class ProgramRun {
 public:
  ProgramRun(Sandbox& sandbox, const refservice::ReferenceService& service);
  ~ProgramRun();

  void start();
  // Waits for the program to end by itself; false when it is still running after `limit`.
  bool waitForExit(std::chrono::milliseconds limit);
  void terminate();  // SIGTERM, as the system sends it
  void kill();       // SIGKILL: a crash, as far as the program can tell
  int exitCode() const;
  QProcess::ExitStatus exitStatus() const;
  QByteArray output() const;  // standard output and error so far

  // What the stand-in opener was asked to open, one entry per call.
  QStringList opened() const;
  // The application-support folder of the bundle's identifier.
  QString supportFolder() const;

 private:
  Sandbox& sandbox_;
  const refservice::ReferenceService& service_;
  std::unique_ptr<QProcess> process_;
  QString bundle_;
};

}  // namespace ov::test
