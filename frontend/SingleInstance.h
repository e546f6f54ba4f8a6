#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

namespace ov {

// Keeps a second copy of the program from downloading into the same part
// files as a running one, which would corrupt both. The first copy holds a
// lock file in the folder the part files live in and listens on a local
// socket; a later copy finds the lock taken and asks the first one to bring
// its window forward.
//
// A lock left behind by a process that died is taken over (the lock file
// names its process). Main thread.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `key`: what the copies have in common (the bundle identifier).
  // `folder`: where the lock file goes (created when missing).
  SingleInstance(const QString& key, const QString& folder, QObject* parent = nullptr);
  // The program's guard: the bundle's identifier, in the application-support
  // folder, where the part files live (that is what a second copy must not share).
  explicit SingleInstance(QObject* parent = nullptr);
  ~SingleInstance() override;

  enum class Claim {
    Acquired,       // this process is now the only copy; it listens for later launches
    HeldElsewhere,  // another copy holds the lock
    Failed,         // the folder or the lock file cannot be made: nothing could be downloaded there either
  };
  // With `answerLaterLaunches` clear, a later launch gets no answer to its
  // request for a window (there is none to bring forward).
  Claim acquire(bool answerLaterLaunches = true);
  // Gives the lock up (also done by the destructor).
  void release();

  // From a later copy: asks the running one to bring its window forward and
  // answers whether it acknowledged within `timeout`. Blocks; any thread.
  bool activateRunningInstance(std::chrono::milliseconds timeout = std::chrono::seconds(3)) const;

  QString lockFilePath() const { return lockPath_; }
  QString serverName() const { return serverName_; }

 signals:
  // A later launch asked for the window.
  void activationRequested();

 private:
  void onNewConnection();

  QString folder_;
  QString lockPath_;
  QString serverName_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer server_;
};

}  // namespace ov
