#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/refservice/ReferenceService.h"
#include "tools/refservice/Scenario.h"

namespace refservice {

// A command line ov-refservice cannot run with.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ov-refservice's command line. Flags take their value as "--flag VALUE" or
// "--flag=VALUE"; every scenario key is also a flag.
struct CommandLine {
  ServiceOptions options;
  std::string stateFolder;   // --state-dir; empty: a new temporary folder, kept at exit
  std::string portFile;      // --port-file; empty: STATE/port
  std::string scenarioFile;  // --scenario
  std::vector<std::pair<std::string, std::string>> scenarioFlags;  // in command-line order
  bool help = false;
};

// Parses the arguments after the program name. Scenario flags are checked
// here, so a bad one fails at once. Throws UsageError.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The scenario file, if any, then the scenario flags on top. Called at start
// and again on SIGHUP. Throws ScenarioError.
Scenario scenarioOf(const CommandLine& commandLine);

std::string usageText();

// The one line a script waits for: "listening URL ca=FILE record=FILE".
std::string listeningLine(const ReferenceService& service, const std::string& recordFile);

// Writes "PORT\n" to `path` in one step (a reader never sees it half written).
// Throws std::runtime_error.
void writePortFile(const std::string& path, int port);

}  // namespace refservice
