#include "engine/OVDownloadMgr.h"
#include "platform/Toolkit.h"
#include "platform/Utility.h"

// Apart from the other helpers, so that only what ends the application pulls
// in the download manager.
void terminateOVDownloader(const std::any& sender) {
  // The toolkit's terminate request carries no sender; the application
  // delegate does not look at it.
  static_cast<void>(sender);
  ov::toolkit().setTerminating();
  OVDownloadMgr::shared().removeTempFiles();
  ov::toolkit().terminate();
}
