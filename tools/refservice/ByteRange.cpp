#include "tools/refservice/ByteRange.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace refservice {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Digits only: from_chars alone would take a leading minus sign.
std::optional<std::int64_t> digits(std::string_view text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return std::nullopt;
  std::int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<ByteRangeSpec> parseSpec(std::string_view text) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto before = text.substr(0, dash);
  const auto after = text.substr(dash + 1);
  ByteRangeSpec spec;
  if (before.empty()) {
    spec.suffix = digits(after);
    if (!spec.suffix) return std::nullopt;
    return spec;
  }
  const auto first = digits(before);
  if (!first) return std::nullopt;
  spec.first = *first;
  if (!after.empty()) {
    spec.last = digits(after);
    if (!spec.last || *spec.last < spec.first) return std::nullopt;
  }
  return spec;
}

}  // namespace

std::optional<std::vector<ByteRangeSpec>> parseRangeHeader(std::string_view value) {
  constexpr std::string_view unit = "bytes=";
  if (value.size() < unit.size() || !std::equal(unit.begin(), unit.end(), value.begin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
      }))
    return std::nullopt;
  value.remove_prefix(unit.size());
  std::vector<ByteRangeSpec> specs;
  while (true) {
    const auto comma = value.find(',');
    const auto spec = parseSpec(trimmed(value.substr(0, comma)));
    if (!spec) return std::nullopt;
    specs.push_back(*spec);
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return specs;
}

std::optional<ResolvedRange> resolveRange(const ByteRangeSpec& spec, std::int64_t size) {
  if (size <= 0) return std::nullopt;
  if (spec.suffix) {
    if (*spec.suffix == 0) return std::nullopt;
    return ResolvedRange{size - std::min(*spec.suffix, size), size - 1};
  }
  if (spec.first >= size) return std::nullopt;
  return ResolvedRange{spec.first, std::min(spec.last.value_or(size - 1), size - 1)};
}

std::string contentRange(const ResolvedRange& range, std::int64_t size) {
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
         std::to_string(size);
}

}  // namespace refservice
