#include "engine/DownloadModel.h"

namespace ov {

std::optional<ERROR_Code> ERROR_CodeFromRaw(int raw) {
  if (raw < 0 || raw > 9) return std::nullopt;
  return static_cast<ERROR_Code>(raw);
}

std::optional<ERR_ID_Query_Download_URL> ERR_ID_Query_Download_URLFromRaw(int raw) {
  if (raw != 0 && raw != 1) return std::nullopt;
  return static_cast<ERR_ID_Query_Download_URL>(raw);
}

}  // namespace ov
