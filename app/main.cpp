#include "app/Launcher.h"

int main(int argc, char** argv) {
  return ov::runOVDownloader(argc, argv);
}
