#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "platform/Log.h"
#include "platform/Toolkit.h"

extern char** environ;

namespace ov {
namespace {

// How long the opener may run before its request counts as accepted. Without a
// desktop environment xdg-open runs the handler in the foreground and returns
// only when it ends, while refusals (no handler, a missing file) come within a
// fraction of a second.
constexpr auto kAcceptAfter = std::chrono::seconds(3);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// What xdg-open is given: a local file as its absolute path, anything else as
// its encoded URL. A URL without a scheme names nothing to open; the absolute
// path and the scheme's first letter keep the argument from reading as an option.
std::optional<QString> openerArgument(const QUrl& url) {
  if (url.isEmpty() || !url.isValid()) return std::nullopt;
  if (url.isLocalFile()) return QFileInfo(url.toLocalFile()).absoluteFilePath();
  if (url.scheme().isEmpty()) return std::nullopt;
  return url.toString(QUrl::FullyEncoded);
}

std::optional<pid_t> spawn(const QByteArray& program, const QByteArray& argument) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // The handler may live long; it must not hold our sockets and part files.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  // A signal ignored or blocked here (SIGPIPE, for one) would stay so in the handler.
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(argument.constData()), nullptr};
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return std::nullopt;
  return pid;
}

// The exit status once the child has ended within `limit`; nothing while it still runs.
std::optional<int> waitAtMost(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace

bool openWithXdgOpen(const QUrl& url) {
  const std::optional<QString> argument = openerArgument(url);
  if (!argument) {
    outputLine(QStringLiteral("openWithXdgOpen() nothing to open in ") + url.toString());
    return false;
  }
  const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (program.isEmpty()) {
    outputLine(QStringLiteral("openWithXdgOpen() xdg-open not found"));
    return false;
  }
  const std::optional<pid_t> pid = spawn(QFile::encodeName(program), QFile::encodeName(*argument));
  if (!pid) {
    outputLine(QStringLiteral("openWithXdgOpen() could not start ") + program);
    return false;
  }
  const std::optional<int> status = waitAtMost(*pid, kAcceptAfter);
  if (!status) {
    // Still running: the handler has the request. It is reaped when it ends,
    // so no zombie stays behind.
    std::thread([child = *pid] {
      int ignored = 0;
      while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return true;
  }
  if (*status != 0) outputLine(QStringLiteral("openWithXdgOpen() xdg-open exit status %1").arg(*status));
  return *status == 0;
}

}  // namespace ov
