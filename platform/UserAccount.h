#pragma once

#include <QString>

namespace ov {

// The login name of the user this process runs as: the account database's
// entry for the effective user, else $USER. Any thread.
QString loginName();

}  // namespace ov
