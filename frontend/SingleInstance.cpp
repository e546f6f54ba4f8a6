#include "frontend/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include "platform/Bundle.h"
#include "platform/Utility.h"

namespace ov {

namespace {

const QByteArray kActivate = QByteArrayLiteral("activate\n");
const QByteArray kAcknowledge = QByteArrayLiteral("ok\n");

}  // namespace

SingleInstance::SingleInstance(const QString& key, const QString& folder, QObject* parent)
    : QObject(parent),
      folder_(folder),
      lockPath_(QDir(folder).filePath(QStringLiteral(".OVDownloader.lock"))) {
  // Socket paths are short (108 bytes on Linux), so the folder goes in as a
  // digest: copies that share the folder meet, others never do.
  const QByteArray digest =
      QCryptographicHash::hash(QDir::cleanPath(folder).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
  serverName_ =
      QStringLiteral("ovdownloader-") + QString(key).replace(u'/', u'_') + u'-' + QString::fromLatin1(digest);
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

SingleInstance::SingleInstance(QObject* parent)
    : SingleInstance(Bundle::main().identifier().value_or(QString::fromLatin1(kFallbackBundleIdentifier)),
                     getApplicationSupportDirectory(true).toLocalFile(), parent) {}

SingleInstance::~SingleInstance() {
  release();
}

SingleInstance::Claim SingleInstance::acquire(bool answerLaterLaunches) {
  if (lock_ && lock_->isLocked()) return Claim::Acquired;
  if (!QDir().mkpath(folder_)) return Claim::Failed;
  lock_ = std::make_unique<QLockFile>(lockPath_);
  // The lock lasts as long as the download, however long: only a lock whose
  // process has gone counts as stale.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0))
    return lock_->error() == QLockFile::LockFailedError ? Claim::HeldElsewhere : Claim::Failed;
  // Holding the lock, any socket of that name is a leftover of a dead copy.
  QLocalServer::removeServer(serverName_);
  if (!answerLaterLaunches) return Claim::Acquired;
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(serverName_);
  return Claim::Acquired;
}

void SingleInstance::release() {
  server_.close();
  if (lock_ && lock_->isLocked()) lock_->unlock();
}

bool SingleInstance::activateRunningInstance(std::chrono::milliseconds timeout) const {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  const int ms = static_cast<int>(timeout.count());
  if (!socket.waitForConnected(ms)) return false;
  socket.write(kActivate);
  if (!socket.waitForBytesWritten(ms)) return false;
  QByteArray answer;
  while (!answer.contains('\n')) {
    if (!socket.waitForReadyRead(ms)) return false;
    answer += socket.readAll();
    if (answer.size() > 64) return false;
  }
  return answer == kAcknowledge;
}

void SingleInstance::onNewConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      // A request is one short line; anything longer is not ours.
      const QByteArray line = socket->readLine(64);
      if (line == kActivate) {
        socket->write(kAcknowledge);
        emit activationRequested();
      }
      socket->disconnectFromServer();
    });
  }
}

}  // namespace ov
