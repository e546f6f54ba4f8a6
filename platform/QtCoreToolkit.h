#pragma once

#include <atomic>

#include "platform/Toolkit.h"

namespace ov {

// The toolkit of the core alone (QtCore, no widgets): what toolkit() answers
// until the application installs its widgets toolkit. Main thread, like every
// toolkit call.
class QtCoreToolkit : public Toolkit {
 public:
  // With no window to show, the alert is written to standard output (message,
  // informative text, buttons) and the first, default, button is answered.
  int runModalAlert(const Alert& alert) override;

  // No modal loop and no windows exist without widgets.
  void stopModal() override {}
  void hideWindow(QObject*) override {}

  // xdg-open, which works under every Qt platform plugin, offscreen included.
  bool openWithDefaultHandler(const QUrl& url) override { return openWithXdgOpen(url); }

  // There is no application delegate to ask, so the flag is only kept.
  void setTerminating() override { terminating_ = true; }
  bool isTerminating() const override { return terminating_; }

  // Leaves the main event loop (QCoreApplication::quit()).
  void terminate() override;

 private:
  std::atomic<bool> terminating_{false};
};

// The process's QtCore toolkit, the one toolkit() falls back to.
QtCoreToolkit& defaultToolkit();

}  // namespace ov
