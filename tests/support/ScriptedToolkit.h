#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "platform/Toolkit.h"

namespace ov::test {

// A scriptable stand-in for the desktop toolkit, for engine and window tests.
// Constructing it installs it as ov::toolkit(); the destructor puts back the
// toolkit that was installed before. Everything asked of it is recorded.
//
// Alerts are answered from the queue of answers first, then by the alert
// script, and otherwise with 0 (the first, default, button). Scripts and the
// terminate action run on the caller's thread without any lock held, so they
// may call the toolkit again.
class ScriptedToolkit : public Toolkit {
 public:
  using AlertScript = std::function<int(const Alert&)>;

  ScriptedToolkit();
  ~ScriptedToolkit() override;

  ScriptedToolkit(const ScriptedToolkit&) = delete;
  ScriptedToolkit& operator=(const ScriptedToolkit&) = delete;

  // --- Script ----------------------------------------------------------------
  void queueAlertAnswers(std::initializer_list<int> answers);
  void setAlertScript(AlertScript script) {
    locked([&] { script_ = std::move(script); });
  }
  // What openWithDefaultHandler() answers (true unless told otherwise).
  void setOpenAnswer(bool accepted) {
    locked([&] { openAnswer_ = accepted; });
  }
  // Runs on terminate() besides the recording; nothing by default, so the
  // test's application keeps running. setQuitOnTerminate(true) quits it.
  void setOnTerminate(std::function<void()> action) {
    locked([&] { onTerminate_ = std::move(action); });
  }
  void setQuitOnTerminate(bool quit) {
    locked([&] { quitOnTerminate_ = quit; });
  }

  // --- Record ----------------------------------------------------------------
  std::vector<Alert> alerts() const {
    return locked([&] { return alerts_; });
  }
  std::vector<QUrl> openedUrls() const {
    return locked([&] { return opened_; });
  }
  std::vector<QObject*> hiddenWindows() const {
    return locked([&] { return hidden_; });
  }
  int stopModalCount() const { return count(QStringLiteral("stopModal")); }
  int setTerminatingCount() const { return count(QStringLiteral("setTerminating")); }
  int terminateCount() const { return count(QStringLiteral("terminate")); }
  // Every call by name, in order: "runModalAlert", "stopModal", "hideWindow",
  // "openWithDefaultHandler", "setTerminating", "terminate".
  std::vector<QString> calls() const {
    return locked([&] { return calls_; });
  }

  // --- Toolkit ---------------------------------------------------------------
  int runModalAlert(const Alert& alert) override;
  void stopModal() override;
  void hideWindow(QObject* window) override;
  bool openWithDefaultHandler(const QUrl& url) override;
  void setTerminating() override;
  void terminate() override;
  // The real lookup: the English text unless a translator is installed.
  QString localizedString(const char* english, const char* comment) override {
    return Toolkit::localizedString(english, comment);
  }

 private:
  template <typename F>
  auto locked(F f) const -> decltype(f()) {
    std::lock_guard lk(mutex_);
    return f();
  }
  int count(const QString& call) const;
  void record(const QString& call) {
    locked([&] { calls_.push_back(call); });
  }

  Toolkit* previous_;
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  AlertScript script_;
  bool openAnswer_ = true;
  std::function<void()> onTerminate_;
  bool quitOnTerminate_ = false;
  std::vector<Alert> alerts_;
  std::vector<QUrl> opened_;
  std::vector<QObject*> hidden_;
  std::vector<QString> calls_;
};

}  // namespace ov::test
