#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/refservice/Scenario.h"

namespace refservice {

// A setting that names no known key or carries a value the key cannot take.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sets one scenario key (the names of scenarioKeys(), the same as the
// command-line flags without "--") from its text value. Text values accept the
// escapes \r \n \t and \\; an empty value clears an optional number.
// Throws ScenarioError.
void applyScenarioSetting(Scenario& scenario, std::string_view key, std::string_view value);

// Reads a scenario file: one "key = value" a line, blanks around both trimmed,
// blank lines and lines starting with "#" skipped. Settings apply in order on
// top of `base`. Throws ScenarioError naming the line.
Scenario parseScenarioText(std::string_view text, Scenario base = {});
Scenario loadScenarioFile(const std::string& path, Scenario base = {});

// Every key with a one-line description of its values, for --help.
struct ScenarioKey {
  std::string_view name;
  std::string_view values;
};
const std::vector<ScenarioKey>& scenarioKeys();

}  // namespace refservice
