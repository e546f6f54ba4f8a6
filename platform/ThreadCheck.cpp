#include "platform/ThreadCheck.h"

#include <cstdio>
#include <cstdlib>

namespace ov {

void expectThread(bool condition, const char* where, const char* file, int line) {
  if (condition) return;
  std::fprintf(stderr, "thread check failed: %s:%d must run on %s\n", file, line, where);
  std::fflush(stderr);
  std::abort();
}

}  // namespace ov
