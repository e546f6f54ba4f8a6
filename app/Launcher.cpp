#include "app/Launcher.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppDelegate.h"
#include "app/DownloadWindow.h"
#include "app/ProxyLoginDialog.h"
#include "app/StringFormat.h"
#include "app/Strings.h"
#include "app/Translations.h"
#include "app/ViewController.h"
#include "app/WidgetsToolkit.h"
#include "frontend/SingleInstance.h"
#include "platform/Bundle.h"
#include "platform/TerminationSignals.h"
#include "platform/Toolkit.h"
#include "ui_DownloadWindow.h"

namespace ov {

namespace {

// Texts of the launcher itself; translated in the context "Launcher".
class Launcher {
  Q_DECLARE_TR_FUNCTIONS(Launcher)

 public:
  static QString alreadyRunning() {
    return tr("OVDownloader is already downloading in another window. Only one download can run at a time.");
  }
};

}  // namespace

int runOVDownloader(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("OVDownloader"));
  // The window never closes by itself, and a confirmed quit hides it while the
  // cancellation report is still under way: the quit protocol decides.
  QApplication::setQuitOnLastWindowClosed(false);
  installTranslations();

  AppDelegate delegate;
  WidgetsToolkit toolkit(delegate);
  toolkit.install();
  askProxyLoginsInTheWindow();

  SingleInstance guard;
  switch (guard.acquire()) {
    case SingleInstance::Claim::Acquired:
      break;
    case SingleInstance::Claim::HeldElsewhere:
      if (!guard.activateRunningInstance()) {
        Alert alert;
        alert.message = Launcher::alreadyRunning();
        alert.buttons = {IDS_BTNCAPTION_OK};
        toolkit.runModalAlert(alert);
      }
      return 0;
    case SingleInstance::Claim::Failed: {
      // Nowhere to put the download: the same dialog as when the bundle cannot
      // name its product, under the bundle's own name.
      Alert alert;
      alert.message = formatString(
          IDS_SERVER_ERROR, {Bundle::main().infoString(QStringLiteral("CFBundleName")).value_or(QString())});
      alert.buttons = {IDS_BTNCAPTION_OK};
      toolkit.runModalAlert(alert);
      return 1;
    }
  }

  TerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TerminationSignals::received, &delegate,
                   [&delegate] { delegate.terminateOnSignal(); });

  delegate.applicationWillFinishLaunching();
  const auto controller = ViewController::create();
  controller->loadView();
  DownloadWindow* window = controller->window();
  QObject::connect(window->ui->actionQuit, &QAction::triggered, &toolkit,
                   [&toolkit] { toolkit.terminate(); });
  QObject::connect(window->ui->actionCloseWindow, &QAction::triggered, &delegate,
                   [&delegate, window] { delegate.onQuitOVDownloader(window->ui->actionCloseWindow); });
  QObject::connect(&guard, &SingleInstance::activationRequested, window, [&delegate, controller] {
    // A hidden window belongs to a quit already under way.
    if (!delegate.bIsTerminating && controller->window()->isVisible()) controller->showWindow();
  });
  // A start-up check that failed has already asked to quit.
  if (!delegate.bIsTerminating) controller->showWindow();
  delegate.applicationDidFinishLaunching();

  const int status = QApplication::exec();

  // The process ends here, as the platform's terminate does: threads still
  // blocked in a service call or a transfer are not waited for, and no
  // teardown races them.
  guard.release();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace ov
