#include <numeric>

#include "engine/OVDownloadMgr.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/ThreadCheck.h"

namespace ov {

void OVDownloadMgr::onUpdateProgress() {
  OV_ON_MAIN_THREAD();
  // Parts appended too soon after the last state file are recorded once its
  // time has come, even when no part follows them for a while.
  if (checkpointOwed_.exchange(false)) scheduleCheckpoint(false);
  double progress = 0.0;
  if (!listProgress.empty()) {
    const double sum = std::accumulate(listProgress.begin(), listProgress.end(), 0.0);
    progress = sum / static_cast<double>(listProgress.size()) * doDownloadTaskRatio;
    if (progress < 0.0 || progress > doDownloadTaskRatio) return;
  }
  // Delivered only while the timer still runs: a tick queued just before the
  // merge stopped it must not pull the bar back from 100 %.
  postToMain([this, progress] {
    if (!progressTimer) return;
    if (auto delegate = downloadDelegate.lock()) delegate->onDownloadProgress(progress);
  });
}

double OVDownloadMgr::getCurrentDownloadDuration() {
  const QDateTime now = ov::now();
  std::optional<QDateTime> startTime;
  double before = 0;
  {
    // Reports read these on background threads while pause and resume (main
    // thread) and a new DownloadFile() change them.
    std::shared_lock lk(lock);
    startTime = previousStartTime;
    before = previousDownloadDuration;
  }
  const double elapsed = startTime ? static_cast<double>(startTime->msecsTo(now)) / 1000.0 : 0.0;
  const QString started = startTime ? startTime->toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"))
                                    : QStringLiteral("nil");
  outputLine(QStringLiteral("getCurrentDownloadDuration() previousStartTime : ") + started +
             QStringLiteral(", previousDownloadDuration : ") +
             QString::number(before, 'g', QLocale::FloatingPointShortest));
  return elapsed + before;
}

}  // namespace ov
