#include "tests/support/ScriptedToolkit.h"

#include <QCoreApplication>

namespace ov::test {

ScriptedToolkit::ScriptedToolkit() : previous_(&toolkit()) {
  setToolkit(this);
}

ScriptedToolkit::~ScriptedToolkit() {
  setToolkit(previous_);
}

void ScriptedToolkit::queueAlertAnswers(std::initializer_list<int> answers) {
  std::lock_guard lk(mutex_);
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

void ScriptedToolkit::setAlertScript(AlertScript script) {
  std::lock_guard lk(mutex_);
  script_ = std::move(script);
}

void ScriptedToolkit::setOpenAnswer(bool accepted) {
  std::lock_guard lk(mutex_);
  openAnswer_ = accepted;
}

void ScriptedToolkit::setOnTerminate(std::function<void()> action) {
  std::lock_guard lk(mutex_);
  onTerminate_ = std::move(action);
}

void ScriptedToolkit::setQuitOnTerminate(bool quit) {
  std::lock_guard lk(mutex_);
  quitOnTerminate_ = quit;
}

std::vector<Alert> ScriptedToolkit::alerts() const {
  std::lock_guard lk(mutex_);
  return alerts_;
}

std::vector<QUrl> ScriptedToolkit::openedUrls() const {
  std::lock_guard lk(mutex_);
  return opened_;
}

std::vector<QObject*> ScriptedToolkit::hiddenWindows() const {
  std::lock_guard lk(mutex_);
  return hidden_;
}

int ScriptedToolkit::stopModalCount() const {
  std::lock_guard lk(mutex_);
  return stopModalCount_;
}

int ScriptedToolkit::setTerminatingCount() const {
  std::lock_guard lk(mutex_);
  return setTerminatingCount_;
}

int ScriptedToolkit::terminateCount() const {
  std::lock_guard lk(mutex_);
  return terminateCount_;
}

std::vector<QString> ScriptedToolkit::calls() const {
  std::lock_guard lk(mutex_);
  return calls_;
}

int ScriptedToolkit::runModalAlert(const Alert& alert) {
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

void ScriptedToolkit::stopModal() {
  std::lock_guard lk(mutex_);
  ++stopModalCount_;
  calls_.push_back(QStringLiteral("stopModal"));
}

void ScriptedToolkit::hideWindow(QObject* window) {
  std::lock_guard lk(mutex_);
  hidden_.push_back(window);
  calls_.push_back(QStringLiteral("hideWindow"));
}

bool ScriptedToolkit::openWithDefaultHandler(const QUrl& url) {
  std::lock_guard lk(mutex_);
  opened_.push_back(url);
  calls_.push_back(QStringLiteral("openWithDefaultHandler"));
  return openAnswer_;
}

void ScriptedToolkit::setTerminating() {
  std::lock_guard lk(mutex_);
  ++setTerminatingCount_;
  calls_.push_back(QStringLiteral("setTerminating"));
}

void ScriptedToolkit::terminate() {
  std::function<void()> action;
  bool quit = false;
  {
    std::lock_guard lk(mutex_);
    ++terminateCount_;
    calls_.push_back(QStringLiteral("terminate"));
    action = onTerminate_;
    quit = quitOnTerminate_;
  }
  if (action) action();
  if (quit) QCoreApplication::quit();
}

}  // namespace ov::test
