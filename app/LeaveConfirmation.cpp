#include "app/LeaveConfirmation.h"

#include "app/Strings.h"
#include "platform/Toolkit.h"

namespace ov {

bool confirmLeaving() {
  Alert alert;
  alert.message = IDS_LEAVEAPP;
  alert.style = AlertStyle::Warning;
  alert.buttons = {IDS_BTNCAPTION_NO, IDS_BTNCAPTION_YES};
  return toolkit().runModalAlert(alert) == 1;
}

}  // namespace ov
