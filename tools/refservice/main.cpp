// ov-refservice: the reference download service as a program. See --help.

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "tools/refservice/CommandLine.h"
#include "tools/refservice/ReferenceService.h"
#include "tools/refservice/ScenarioParser.h"

namespace {

std::string makeStateFolder(const std::string& given) {
  if (!given.empty()) {
    std::filesystem::create_directories(given);
    return std::filesystem::absolute(given).string();
  }
  auto pattern = (std::filesystem::temp_directory_path() / "ov-refservice-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a state folder");
  return pattern;
}

// Waits for SIGINT or SIGTERM; a SIGHUP in between reloads the scenario.
void serveUntilStopped(refservice::ReferenceService& service, const refservice::CommandLine& commandLine,
                       const sigset_t& signals) {
  while (true) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) return;
    if (signal != SIGHUP) return;
    try {
      service.setScenario(refservice::scenarioOf(commandLine));
      std::cerr << "ov-refservice: scenario reloaded" << std::endl;
    } catch (const std::exception& e) {
      std::cerr << "ov-refservice: scenario kept: " << e.what() << std::endl;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  refservice::CommandLine commandLine;
  refservice::Scenario scenario;
  try {
    commandLine = refservice::parseCommandLine({argv + 1, argv + argc});
    if (commandLine.help) {
      std::cout << refservice::usageText();
      return 0;
    }
    scenario = refservice::scenarioOf(commandLine);
  } catch (const std::exception& e) {
    std::cerr << "ov-refservice: " << e.what() << "\nTry ov-refservice --help" << std::endl;
    return 2;
  }

  // Blocked before any thread starts, so every server thread inherits the
  // mask and the signals arrive only at sigwait() below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    auto options = commandLine.options;
    options.stateFolder = makeStateFolder(commandLine.stateFolder);
    if (options.recordFile.empty()) options.recordFile = options.stateFolder + "/requests.jsonl";
    const auto portFile = commandLine.portFile.empty() ? options.stateFolder + "/port" : commandLine.portFile;

    refservice::ReferenceService service(options, scenario);
    service.start();
    refservice::writePortFile(portFile, service.port());
    std::cout << refservice::listeningLine(service, options.recordFile) << std::endl;

    serveUntilStopped(service, commandLine, signals);
    service.stop();
    std::remove(portFile.c_str());
    std::cerr << "ov-refservice: stopped" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "ov-refservice: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
