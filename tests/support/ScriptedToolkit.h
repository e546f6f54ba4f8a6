#pragma once

#include <QObject>
#include <algorithm>
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
// script, and otherwise with 0 (the first, default, button). The script runs
// without the lock held, so it may call the toolkit again. terminate() only
// records: the test's application keeps running.
class ScriptedToolkit : public Toolkit {
 public:
  using AlertScript = std::function<int(const Alert&)>;

  ScriptedToolkit() : previous_(&toolkit()) { setToolkit(this); }
  ~ScriptedToolkit() override { setToolkit(previous_); }
  ScriptedToolkit(const ScriptedToolkit&) = delete;
  ScriptedToolkit& operator=(const ScriptedToolkit&) = delete;

  void queueAlertAnswers(std::initializer_list<int> answers) {
    std::lock_guard lk(mutex_);
    answers_.insert(answers_.end(), answers.begin(), answers.end());
  }
  void setAlertScript(AlertScript script) { set(script_, std::move(script)); }
  // What openWithDefaultHandler() answers (true unless told otherwise).
  void setOpenAnswer(bool accepted) { set(openAnswer_, accepted); }

  std::vector<Alert> alerts() const { return get(alerts_); }
  std::vector<QUrl> openedUrls() const { return get(opened_); }
  std::vector<QObject*> hiddenWindows() const { return get(hidden_); }
  // Every call by name, in order: "runModalAlert", "stopModal", "hideWindow",
  // "openWithDefaultHandler", "setTerminating", "terminate".
  std::vector<QString> calls() const { return get(calls_); }
  int setTerminatingCount() const { return count(QStringLiteral("setTerminating")); }
  int terminateCount() const { return count(QStringLiteral("terminate")); }

  int runModalAlert(const Alert& alert) override {
    AlertScript script;
    {
      std::lock_guard lk(mutex_);
      alerts_.push_back(alert);
      calls_.push_back(QStringLiteral("runModalAlert"));
      if (!answers_.empty()) {
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
      }
      script = script_;
    }
    return script ? script(alert) : 0;
  }
  void stopModal() override { record(QStringLiteral("stopModal")); }
  void hideWindow(QObject* window) override { record(QStringLiteral("hideWindow"), &hidden_, window); }
  bool openWithDefaultHandler(const QUrl& url) override {
    record(QStringLiteral("openWithDefaultHandler"), &opened_, url);
    return get(openAnswer_);
  }
  void setTerminating() override { record(QStringLiteral("setTerminating")); }
  bool isTerminating() const override { return setTerminatingCount() > 0; }
  void terminate() override { record(QStringLiteral("terminate")); }

 private:
  template <typename T>
  T get(const T& field) const {
    std::lock_guard lk(mutex_);
    return field;
  }
  template <typename T>
  void set(T& field, T value) {
    std::lock_guard lk(mutex_);
    field = std::move(value);
  }
  // Records the call and, when given, what it was about.
  template <typename T = int>
  void record(const QString& call, std::vector<T>* about = nullptr, T what = {}) {
    std::lock_guard lk(mutex_);
    calls_.push_back(call);
    if (about) about->push_back(what);
  }
  int count(const QString& call) const {
    const auto all = calls();
    return static_cast<int>(std::count(all.begin(), all.end(), call));
  }

  Toolkit* previous_;
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  AlertScript script_;
  bool openAnswer_ = true;
  std::vector<Alert> alerts_;
  std::vector<QUrl> opened_;
  std::vector<QObject*> hidden_;
  std::vector<QString> calls_;
};

}  // namespace ov::test
