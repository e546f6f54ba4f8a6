#include "net/HttpClient.h"

#include <QtGlobal>

#include "platform/AsciiText.h"

namespace ov {
namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void appendEncoded(std::string& out, const QString& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const QByteArray utf8 = text.toUtf8();
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
}

}  // namespace

std::string formEncode(const FormFields& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    appendEncoded(out, name);
    out += '=';
    appendEncoded(out, value);
  }
  return out;
}

std::optional<std::string> HttpResponse::value(std::string_view name) const {
  for (const auto& field : headerFields) {
    if (equalsIgnoringCase(field.name, name)) return field.value;
  }
  return std::nullopt;
}

HttpSettings& httpSettings() {
  static HttpSettings settings = [] {
    HttpSettings s;
    s.caFile = qEnvironmentVariable("OVDOWNLOADER_CA_FILE");
    return s;
  }();
  return settings;
}

}  // namespace ov
