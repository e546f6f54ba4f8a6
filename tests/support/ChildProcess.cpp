#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <vector>

extern char** environ;

namespace ov::test {

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments, const QString& stdoutFile) {
  std::vector<QByteArray> storage;
  storage.push_back(QFile::encodeName(program));
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
  pid_t pid = -1;
  if (posix_spawnp(&pid, storage.front().constData(), &actions, nullptr, argv.data(), environ) == 0)
    pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (started() && !reaped_) {
    kill();
    wait();
  }
}

std::optional<int> ChildProcess::wait() {
  if (!started() || reaped_) return std::nullopt;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  reaped_ = true;
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

void ChildProcess::kill() {
  if (started() && !reaped_) ::kill(pid_, SIGTERM);
}

std::optional<int> ChildProcess::run(const QString& program, const QStringList& arguments) {
  ChildProcess child(program, arguments);
  return child.wait();
}

}  // namespace ov::test
