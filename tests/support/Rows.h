#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace ov::test {

// A table's row is known by its `name`: in the test's name, in ctest's list
// ("Faults/FaultTable.…/RedirectToHttp # GetParam() = RedirectToHttp") and in
// a failure message, instead of the row's bytes.
template <typename Row>
concept NamedRow = requires(const Row& row) {
  std::string_view(row.name);
};

// GoogleTest finds a printer by argument-dependent lookup, which looks only in
// the row's own namespace: a test file brings this one there with
// `using test::PrintTo;` beside its rows.
template <NamedRow Row>
void PrintTo(const Row& row, std::ostream* out) {
  *out << std::string_view(row.name);
}

// Names a table's test after its row.
inline constexpr auto rowName = [](const auto& info) {
  return std::string(std::string_view(info.param.name));
};

}  // namespace ov::test
