#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <map>
#include <memory>

#include "tests/support/Sandbox.h"
#include "tools/refservice/ReferenceService.h"

namespace ov::test {

// One run of the real program: a copy of the built bundle in a sandboxed
// home, pointed at a reference service, offscreen, with a recording stand-in
// for xdg-open first on PATH. No proxy reaches it from the test's own
// environment, and libproxy loads no module but its PAC runners (and those a
// test adds): never the desktop settings of whoever runs the tests.
class ProgramRun {
 public:
  ProgramRun(Sandbox& sandbox, const refservice::ReferenceService& service);
  ~ProgramRun();

  // Starts the bundle's executable with `arguments`. With `display` clear it
  // has none at all (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM): a
  // window, or anything of Qt's GUI, could not start.
  void start(const QStringList& arguments = {}, bool display = true);
  // Sets a variable of the program's environment for start(), after the
  // fixture's own (so it may replace OVDOWNLOADER_SERVICE_HOST).
  void setEnvironment(const QString& name, const QString& value) { extra_[name] = value; }
  // Lets libproxy also load its module `fileName` (config_gnome3.so: GNOME's
  // proxy settings, which the test then writes into the sandbox).
  void addLibproxyModule(const QString& fileName) { libproxyModules_ << fileName; }
  // Sends the program's standard output to `reader` (started with it) instead.
  void pipeTo(QProcess& reader);
  // Waits for the program to end by itself; false when it is still running after `limit`.
  bool waitForExit(std::chrono::milliseconds limit);
  void terminate();  // SIGTERM, as the system sends it
  void interrupt();  // SIGINT, as Ctrl+C sends it
  qint64 processId() const;
  void kill();  // SIGKILL: a crash, as far as the program can tell
  int exitCode() const;
  QProcess::ExitStatus exitStatus() const;
  QByteArray output() const;  // standard output and error so far
  QByteArray standardOutput() const;
  QByteArray standardError() const;

  // What the stand-in opener was asked to open, one entry per call.
  QStringList opened() const;
  // The sandbox's copy of the bundle.
  QString bundlePath() const { return bundle_; }
  // The application-support folder of the bundle's identifier.
  QString supportFolder() const;

 private:
  Sandbox& sandbox_;
  const refservice::ReferenceService& service_;
  std::unique_ptr<QProcess> process_;
  QString bundle_;
  QProcess* reader_ = nullptr;
  std::map<QString, QString> extra_;
  QStringList libproxyModules_{QStringLiteral("pacrunner_*.so")};
};

}  // namespace ov::test
