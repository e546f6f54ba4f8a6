#include "tests/support/ScriptedToolkit.h"

#include <QCoreApplication>
#include <algorithm>

namespace ov::test {

ScriptedToolkit::ScriptedToolkit() : previous_(&toolkit()) {
  setToolkit(this);
}

ScriptedToolkit::~ScriptedToolkit() {
  setToolkit(previous_);
}

void ScriptedToolkit::queueAlertAnswers(std::initializer_list<int> answers) {
  locked([&] { answers_.insert(answers_.end(), answers.begin(), answers.end()); });
}

int ScriptedToolkit::count(const QString& call) const {
  return locked([&] { return static_cast<int>(std::count(calls_.begin(), calls_.end(), call)); });
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
  record(QStringLiteral("stopModal"));
}

void ScriptedToolkit::hideWindow(QObject* window) {
  locked([&] { hidden_.push_back(window); });
  record(QStringLiteral("hideWindow"));
}

bool ScriptedToolkit::openWithDefaultHandler(const QUrl& url) {
  std::lock_guard lk(mutex_);
  opened_.push_back(url);
  calls_.push_back(QStringLiteral("openWithDefaultHandler"));
  return openAnswer_;
}

void ScriptedToolkit::setTerminating() {
  record(QStringLiteral("setTerminating"));
}

void ScriptedToolkit::terminate() {
  record(QStringLiteral("terminate"));
  const auto [action, quit] = locked([&] { return std::pair(onTerminate_, quitOnTerminate_); });
  if (action) action();
  if (quit) QCoreApplication::quit();
}

}  // namespace ov::test
