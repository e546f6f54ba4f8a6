#pragma once

#include <QString>
#include <map>
#include <optional>

namespace ov {

// Status codes and the names sent in the "status" and "detail_status" fields.
enum class STATUS_ID : int {
  SI_NOREQUEST = 0,
  SI_LAUNCH = 1,
  SI_SIGNCHECKFAILED = 2,
  SI_INSTALL = 3,
  SI_BUILDCHANGE = 4,
  SI_BUILDMISSING = 5,
  SI_DOWNLOADING = 6,
  SI_MD5FAILED = 7,
  SI_CANCEL = 8,
  SI_COMPLETE = 9,
};
std::optional<STATUS_ID> STATUS_IDFromRaw(int raw);

// Built once, on first use, safely from any thread.
const std::map<STATUS_ID, QString>& STATUS_NAME_Dict();

// The name of a status, for the reports.
inline QString statusName(STATUS_ID id) {
  return STATUS_NAME_Dict().at(id);
}

}  // namespace ov
