// The window's program, OVDownloaderWindow: the bundle's executable
// (app/main.cpp) becomes it when the command line asks for the window.
#include "app/Launcher.h"
#include "platform/ReplaceProcess.h"

int main(int argc, char** argv) {
  ov::nameProcessAfter(argv[0]);
  return ov::runOVDownloader(argc, argv);
}
