#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <optional>
#include <vector>

extern char** environ;

namespace ov::test {

// Helper programs for tests (a message bus, lrelease), started with
// posix_spawn. QProcess is not used: ThreadSanitizer cannot follow how it
// forks and afterwards takes the test process itself for a forked child.
//
// `program` is looked up on PATH unless it holds a "/". Standard input is
// /dev/null; standard output goes to `stdoutFile` when given, else it is
// inherited. The destructor kills the child if it still runs, and reaps it.
class ChildProcess {
 public:
  ChildProcess(const QString& program, const QStringList& arguments, const QString& stdoutFile = QString()) {
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString& argument : arguments) storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& item : storage) argv.push_back(item.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const QByteArray out = QFile::encodeName(stdoutFile);
    if (!stdoutFile.isEmpty())
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    kill();
    wait();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Waits for the child to end; its exit status, or nothing when it did not
  // start or ended by a signal.
  std::optional<int> wait() {
    if (!started() || reaped_) return std::nullopt;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0)
      if (errno != EINTR) return std::nullopt;
    reaped_ = true;
    return WIFEXITED(status) ? std::optional(WEXITSTATUS(status)) : std::nullopt;
  }
  void kill() {
    if (started() && !reaped_) ::kill(pid_, SIGTERM);
  }

  // Runs a program to its end and answers its exit status.
  static std::optional<int> run(const QString& program, const QStringList& arguments) {
    return ChildProcess(program, arguments).wait();
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace ov::test
