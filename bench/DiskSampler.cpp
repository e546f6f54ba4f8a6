// disk_sampler: how much disk the files under some folders take, sampled
// every few milliseconds, for bench/run.sh's peak-disk figure.
//
//   disk_sampler --interval-ms MS DIR...
//
// Sums the allocated size (st_blocks, which on ext4 includes blocks reserved
// for data not yet written back) of every file under each DIR; a DIR that does
// not exist yet counts as empty. On SIGINT or SIGTERM it takes a last sample
// and prints "peak_bytes=N samples=N". A file removed during a walk is
// skipped, so a sample can only fall short of the truth, never exceed it.
//
// It is a program rather than a shell loop so that sampling twenty times a
// second does not fork processes beside the program being measured.

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::uintmax_t allocatedBytes(const fs::path& root) {
  std::uintmax_t total = 0;
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode))
      total += static_cast<std::uintmax_t>(info.st_blocks) * 512;
  }
  return total;
}

std::uintmax_t sample(const std::vector<fs::path>& roots) {
  std::uintmax_t total = 0;
  for (const auto& root : roots) total += allocatedBytes(root);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::string(argv[1]) != "--interval-ms") {
    std::fprintf(stderr, "usage: disk_sampler --interval-ms MS DIR...\n");
    return 2;
  }
  const long intervalMs = std::strtol(argv[2], nullptr, 10);
  const std::vector<fs::path> roots(argv + 3, argv + argc);

  // The signals are taken by sigtimedwait, which is also the sampling clock.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  const timespec interval{intervalMs / 1000, (intervalMs % 1000) * 1'000'000};

  std::uintmax_t peak = 0;
  long samples = 0;
  while (true) {
    peak = std::max(peak, sample(roots));
    ++samples;
    if (sigtimedwait(&stop, nullptr, &interval) > 0) break;
  }
  peak = std::max(peak, sample(roots));
  std::printf("peak_bytes=%ju samples=%ld\n", peak, samples + 1);
  return 0;
}
