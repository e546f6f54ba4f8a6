#include "tests/e2e/ProgramRun.h"

#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <stdexcept>

#include "tests/support/ChildProcess.h"

namespace ov::test {

ProgramRun::ProgramRun(Sandbox& sandbox, const refservice::ReferenceService& service)
    : sandbox_(sandbox), service_(service) {
  // A copy in the sandbox: the bundle must run wherever it is.
  bundle_ = sandbox_.path(QStringLiteral("Apps/OVDownloader.app"));
  QDir().mkpath(sandbox_.path(QStringLiteral("Apps")));
  if (ChildProcess::run(QStringLiteral("cp"),
                        {QStringLiteral("-a"), QStringLiteral(OV_BUILD_BUNDLE), bundle_}) != 0)
    throw std::runtime_error("cannot copy the bundle");
  const QString opener =
      sandbox_.writeFile(QStringLiteral("bin/xdg-open"),
                         "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n");
  QFile(opener).setPermissions(QFile(opener).permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

ProgramRun::~ProgramRun() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
}

void ProgramRun::pipeTo(QProcess& reader) {
  reader_ = &reader;
}

void ProgramRun::start(const QStringList& arguments, bool display) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("HOME"), sandbox_.home());
  environment.insert(QStringLiteral("XDG_DATA_HOME"), sandbox_.dataHome());
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), sandbox_.configHome());
  environment.insert(QStringLiteral("XDG_CACHE_HOME"), sandbox_.cacheHome());
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox_.path(QStringLiteral("run")));
  QDir().mkpath(sandbox_.path(QStringLiteral("run")));
  QFile(sandbox_.path(QStringLiteral("run")))
      .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  environment.insert(QStringLiteral("PATH"),
                     sandbox_.path(QStringLiteral("bin")) + u':' + environment.value(QStringLiteral("PATH")));
  environment.insert(QStringLiteral("OVDOWNLOADER_SERVICE_HOST"),
                     QString::fromStdString(service_.hostAndPort()));
  environment.insert(QStringLiteral("OVDOWNLOADER_CA_FILE"), QString::fromStdString(service_.caFile()));
  if (display) {
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  } else {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
      environment.remove(QString::fromLatin1(name));
  }
  environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
                           "NO_PROXY", "OVDOWNLOADER_PROXY_USER", "OVDOWNLOADER_PROXY_PASSWORD"})
    environment.remove(QString::fromLatin1(name));
  // libproxy's modules for the desktop's settings (GNOME, KDE, NetworkManager)
  // stay out unless a test asks for one; its PAC runners come in.
  const QString modules = sandbox_.path(QStringLiteral("libproxy-modules"));
  QDir().mkpath(modules);
  const auto available =
      QDir(QStringLiteral(OV_LIBPROXY_MODULES)).entryInfoList(libproxyModules_, QDir::Files);
  if (available.size() < libproxyModules_.size())
    throw std::runtime_error("a libproxy module is missing (./dev setup installs them)");
  for (const QFileInfo& module : available)
    QFile::link(module.filePath(), modules + u'/' + module.fileName());
  environment.insert(QStringLiteral("PX_MODULE_PATH"), modules);
  for (const auto& [name, value] : extra_) environment.insert(name, value);

  process_ = std::make_unique<QProcess>();
  process_->setProcessEnvironment(environment);
  if (reader_ != nullptr) process_->setStandardOutputProcess(reader_);
  process_->start(bundle_ + QStringLiteral("/Contents/MacOS/OVDownloader"), arguments);
  process_->waitForStarted(10000);
}

bool ProgramRun::waitForExit(std::chrono::milliseconds limit) {
  QElapsedTimer clock;
  clock.start();
  while (process_->state() != QProcess::NotRunning && clock.elapsed() < limit.count()) {
    process_->waitForFinished(100);
    QCoreApplication::processEvents();
  }
  return process_->state() == QProcess::NotRunning;
}

void ProgramRun::terminate() {
  ::kill(static_cast<pid_t>(process_->processId()), SIGTERM);
}

void ProgramRun::interrupt() {
  ::kill(static_cast<pid_t>(process_->processId()), SIGINT);
}

qint64 ProgramRun::processId() const {
  return process_->processId();
}

void ProgramRun::kill() {
  process_->kill();
  process_->waitForFinished(10000);
}

int ProgramRun::exitCode() const {
  return process_->exitCode();
}

QProcess::ExitStatus ProgramRun::exitStatus() const {
  return process_->exitStatus();
}

QByteArray ProgramRun::output() const {
  return standardOutput() + standardError();
}

QByteArray ProgramRun::standardOutput() const {
  // readAll() would consume; peek the whole buffer instead.
  process_->setReadChannel(QProcess::StandardOutput);
  return process_->peek(process_->bytesAvailable());
}

QByteArray ProgramRun::standardError() const {
  process_->setReadChannel(QProcess::StandardError);
  return process_->peek(process_->bytesAvailable());
}

QStringList ProgramRun::opened() const {
  QFile file(sandbox_.path(QStringLiteral("bin/opened.txt")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString ProgramRun::supportFolder() const {
  return sandbox_.dataHome() + QStringLiteral("/com.orvalen.OVDownloader");
}

}  // namespace ov::test
