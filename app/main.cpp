#include "app/Launcher.h"

int main(int argc, char** argv) {
  return runOVDownloader(argc, argv);
}
