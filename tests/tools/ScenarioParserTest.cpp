#include "tools/refservice/ScenarioParser.h"

#include <gtest/gtest.h>

namespace refservice {
namespace {

TEST(ScenarioText, ErrorsNameTheLine) {
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
           {"gzip = on\nno equals sign", "line 2: expected key = value"},
           {"\n\nhold = sometimes", "line 3: hold: not on or off"},
           {"colour = red", "line 1: unknown scenario key \"colour\""}}) {
    try {
      parseScenarioText(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace refservice
