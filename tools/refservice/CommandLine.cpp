#include "tools/refservice/CommandLine.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>

#include "tools/refservice/ScenarioParser.h"

namespace refservice {
namespace {

using Setter = void (*)(CommandLine&, const std::string&);

int integer(const std::string& flag, const std::string& value, int min, int max) {
  int n = 0;
  const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || ec != std::errc() || ptr != value.data() + value.size() || n < min || n > max)
    throw UsageError(flag + " needs a number from " + std::to_string(min) + " to " + std::to_string(max));
  return n;
}

const std::map<std::string, Setter>& serviceFlags() {
  static const std::map<std::string, Setter> flags{
      {"port", [](CommandLine& c, const std::string& v) { c.options.port = integer("--port", v, 0, 65535); }},
      {"bind", [](CommandLine& c, const std::string& v) { c.options.bindAddress = v; }},
      {"installers", [](CommandLine& c, const std::string& v) { c.options.installersFolder = v; }},
      {"installer", [](CommandLine& c, const std::string& v) { c.options.installerFiles.push_back(v); }},
      {"state-dir", [](CommandLine& c, const std::string& v) { c.stateFolder = v; }},
      {"port-file", [](CommandLine& c, const std::string& v) { c.portFile = v; }},
      {"record", [](CommandLine& c, const std::string& v) { c.options.recordFile = v; }},
      {"cert", [](CommandLine& c, const std::string& v) { c.options.certificateFile = v; }},
      {"key", [](CommandLine& c, const std::string& v) { c.options.keyFile = v; }},
      {"ca", [](CommandLine& c, const std::string& v) { c.options.caFile = v; }},
      {"scenario", [](CommandLine& c, const std::string& v) { c.scenarioFile = v; }},
      {"threads",
       [](CommandLine& c, const std::string& v) { c.options.threads = integer("--threads", v, 1, 1024); }},
  };
  return flags;
}

bool isScenarioKey(const std::string& name) {
  for (const auto& key : scenarioKeys())
    if (key.name == name) return true;
  return false;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine commandLine;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const auto& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      commandLine.help = true;
      continue;
    }
    if (argument == "--verbose") {
      commandLine.options.logEveryRequest = true;
      continue;
    }
    if (argument.rfind("--", 0) != 0) throw UsageError("unexpected argument \"" + argument + "\"");
    const auto equals = argument.find('=');
    const auto name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const bool known = serviceFlags().count(name) > 0 || isScenarioKey(name);
    if (!known) throw UsageError("unknown flag --" + name);
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      throw UsageError("--" + name + " needs a value");
    }
    if (const auto flag = serviceFlags().find(name); flag != serviceFlags().end()) {
      flag->second(commandLine, value);
    } else {
      Scenario check;
      try {
        applyScenarioSetting(check, name, value);
      } catch (const ScenarioError& e) {
        throw UsageError(e.what());
      }
      commandLine.scenarioFlags.emplace_back(name, value);
    }
  }
  if (commandLine.options.certificateFile.empty() != commandLine.options.keyFile.empty())
    throw UsageError("--cert and --key go together");
  return commandLine;
}

Scenario scenarioOf(const CommandLine& commandLine) {
  auto scenario = commandLine.scenarioFile.empty() ? Scenario{} : loadScenarioFile(commandLine.scenarioFile);
  for (const auto& [key, value] : commandLine.scenarioFlags) applyScenarioSetting(scenario, key, value);
  return scenario;
}

std::string usageText() {
  std::string text =
      "usage: ov-refservice [flags]\n"
      "\n"
      "The reference download service: HTTPS on this machine, the download\n"
      "service's POST endpoints under /prog/util/downloader/ and the installers\n"
      "under /installers/NAME. Prints \"listening URL ca=FILE record=FILE\" once\n"
      "ready; SIGINT or SIGTERM stop it, SIGHUP reloads the scenario.\n"
      "\n"
      "  --port N            port to listen on (default 0: any free port)\n"
      "  --bind ADDRESS      address to listen on (default 127.0.0.1)\n"
      "  --installers DIR    serve the files in DIR\n"
      "  --installer FILE    serve FILE (repeatable)\n"
      "  --state-dir DIR     ca.pem, server certificate, requests.jsonl and port go here\n"
      "  --port-file FILE    where the port is written (default STATE/port)\n"
      "  --record FILE       requests as JSON lines (default STATE/requests.jsonl)\n"
      "  --cert FILE --key FILE [--ca FILE]\n"
      "                      serve this certificate instead of a throw-away one\n"
      "  --scenario FILE     scenario settings, one \"key = value\" a line\n"
      "  --threads N         worker threads, one per open connection (default 64)\n"
      "  --verbose           log one line per request\n"
      "\n"
      "Scenario settings (as --KEY VALUE, or KEY = VALUE in the scenario file):\n";
  for (const auto& key : scenarioKeys()) {
    auto line = "  --" + std::string(key.name);
    line.resize(std::max<std::size_t>(line.size() + 1, 26), ' ');
    text += line + std::string(key.values) + "\n";
  }
  return text;
}

std::string listeningLine(const ReferenceService& service, const std::string& recordFile) {
  return "listening " + service.baseUrl() + " ca=" + service.caFile() + " record=" + recordFile;
}

void writePortFile(const std::string& path, int port) {
  const auto temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << port << '\n';
    if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace refservice
