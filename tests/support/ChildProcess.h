#pragma once

#include <sys/types.h>

#include <QString>
#include <QStringList>
#include <optional>

namespace ov::test {

// Helper programs for tests (a message bus, lrelease), started with
// posix_spawn. QProcess is not used: ThreadSanitizer cannot follow how it
// forks and afterwards takes the test process itself for a forked child.
//
// `program` is looked up on PATH unless it holds a "/". Standard input is
// /dev/null; standard output goes to `stdoutFile` when given, else it is
// inherited.
class ChildProcess {
 public:
  ChildProcess(const QString& program, const QStringList& arguments, const QString& stdoutFile = QString());
  ~ChildProcess();  // kills the child if it still runs, and reaps it

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Waits for the child to end; its exit status, or nothing when it did not
  // start or ended by a signal.
  std::optional<int> wait();

  void kill();

  // Runs a program to its end and answers its exit status.
  static std::optional<int> run(const QString& program, const QStringList& arguments);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace ov::test
