#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/RepeatingTimer.h"

class QObject;

namespace ov {

enum class AlertStyle { Warning, Informational, Critical };

struct Alert {
  QString message;
  QString informativeText;
  AlertStyle style = AlertStyle::Warning;
  std::vector<QString> buttons;  // in order; the first is the default button
};

// What the engine and the window need from the desktop toolkit. Every call is
// made on the main thread.
class Toolkit {
 public:
  virtual ~Toolkit() = default;

  virtual void postToMain(Task task) { mainQueue().async(std::move(task)); }

  // A repeating timer on the main loop that also fires inside modal loops.
  virtual std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(double seconds,
                                                                 std::function<void()> action) {
    return RepeatingTimer::scheduled(seconds, std::move(action));
  }

  // Runs the alert modally and answers the index of the chosen button.
  virtual int runModalAlert(const Alert& alert) = 0;

  // Ends a running modal loop, if any.
  virtual void stopModal() = 0;

  // Hides (orders out, does not close) a window.
  virtual void hideWindow(QObject* window) = 0;

  // Opens a file or a web address with the user's default handler; answers
  // whether the request was accepted.
  virtual bool openWithDefaultHandler(const QUrl& url) = 0;

  // Lets the next termination request through without asking the user.
  virtual void setTerminating() = 0;

  // Whether setTerminating() has been called: the program is on its way out.
  virtual bool isTerminating() const = 0;

  // Asks the application to terminate; the application delegate may refuse.
  virtual void terminate() = 0;

  // The translation of an English text, or the text itself.
  virtual QString localizedString(const char* english, const char* comment);
};

// The toolkit in use. The core installs a QtCore-only toolkit by default; the
// application installs its widgets toolkit at start, tests a scripted one.
Toolkit& toolkit();
void setToolkit(Toolkit* toolkit);  // not owned; nullptr restores the default

// Opens with what xdg-open runs; works under every Qt platform plugin.
// Answers whether the opener accepted the request (its exit status, or still
// running after a few seconds).
bool openWithXdgOpen(const QUrl& url);

}  // namespace ov
