#include <QDirIterator>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/Rows.h"
#include "tests/support/TinyProxy.h"

namespace ov::test {
namespace {

using test::PrintTo;

const QString kUser = QStringLiteral("deploy-bot");
const QString kPassword = QStringLiteral("Pr0xy-S3cret.7");

// How the program finds the proxy.
enum class Way {
  Environment,  // https_proxy names it
  // A PAC file (https_proxy=pac+file://...) sends "localhost" through the proxy
  // and everything else direct; the service is asked for as localhost, its
  // installer link names 127.0.0.1.
  Pac,
  // The same PAC file; the service at 127.0.0.1 (direct), which redirects the
  // installer to localhost.
  PacAndRedirect,
  // A GNOME session's proxy settings (GSettings, in the sandbox's keyfile):
  // the proxy for https, 127.0.0.1 among the hosts that bypass it; the
  // service is asked for as localhost.
  DesktopSettings,
  // The GNOME settings name the PAC file (automatic mode) and no host to bypass.
  DesktopPacFile,
};

// Whether the proxy asks for a login, and what OVDOWNLOADER_PROXY_USER and
// OVDOWNLOADER_PROXY_PASSWORD hold.
enum class Login { NotAsked, Given, Missing, Wrong };

struct Row {
  const char* name;
  Way way;
  Login login;
  int exitCode;
  const char* outcome;  // the program's line on stderr; <downloads> and <proxy> stand for the test's
  // The one place the proxy was asked to carry requests to: <service>
  // (127.0.0.1:PORT) or <localhost> (localhost:PORT, the same server).
  const char* proxied;
  int questions;  // the times the proxy's login was asked for
};

class ThroughAProxy : public EndToEnd, public ::testing::WithParamInterface<Row> {
 protected:
  QString expand(const char* text) const {
    const QString port = QString::number(service->port());
    return QString::fromUtf8(text)
        .replace(u"<downloads>"_qs, sandbox_->downloads())
        .replace(u"<proxy>"_qs, proxy_->address())
        .replace(u"<service>"_qs, u"127.0.0.1:"_qs + port)
        .replace(u"<localhost>"_qs, u"localhost:"_qs + port);
  }

  // Everything the program wrote where a login could leak: its output (with
  // --verbose every log line, the system log's too), what the service was
  // sent, and the files it keeps in the home folder (the state file among them).
  QByteArray everythingWritten() const {
    QByteArray written = program->output();
    for (const auto& record : service->requests()) written += QByteArray::fromStdString(toJsonLine(record));
    for (const QString& folder : {sandbox_->dataHome(), sandbox_->configHome(), sandbox_->cacheHome()}) {
      QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
      while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly)) written += file.readAll();
      }
    }
    return written;
  }

  // What a GNOME session gives libproxy: its GSettings (here from a keyfile in
  // the sandbox, `settings`, rather than dconf over the session bus), read
  // by libproxy's GNOME module.
  void useGnomeProxySettings(const QByteArray& settings) {
    sandbox_->writeFile(u".config/glib-2.0/settings/keyfile"_qs, settings);
    program->setEnvironment(u"GSETTINGS_BACKEND"_qs, u"keyfile"_qs);
    program->setEnvironment(u"DESKTOP_SESSION"_qs, u"gnome"_qs);
    program->addLibproxyModule(u"config_gnome3.so"_qs);
  }

  std::unique_ptr<TinyProxy> proxy_;
};

// The unattended bundle through a real proxy (tinyproxy on loopback): the
// requests go where the environment, the PAC file or the desktop's settings
// say, a proxy that asks for a login gets the one from the environment (asked
// for once, however many requests it refuses) or ends the run with the
// network's exit code, the installer is exact, and neither the user name nor
// the password is written anywhere.
TEST_P(ThroughAProxy, RequestsGoWhereTheyShouldAndNoLoginIsWritten) {
  const Row& row = GetParam();
  std::optional<TinyProxy::Login> login;
  if (row.login != Login::NotAsked) login = TinyProxy::Login{kUser, kPassword};
  proxy_ = std::make_unique<TinyProxy>(login);
  serve(12 * 1024 * 1024 + 7, [&](auto& s) {
    if (row.way == Way::PacAndRedirect) s.installer.redirect = refservice::Redirect::ToOtherHost;
  });

  const QString pac = sandbox_->writeFile(
      u"proxy.pac"_qs, "function FindProxyForURL(url, host) {\n  return host == \"localhost\" ? \"PROXY " +
                           proxy_->address().toUtf8() + "\" : \"DIRECT\";\n}\n");
  switch (row.way) {
    case Way::Environment:
      program->setEnvironment(u"https_proxy"_qs, u"http://"_qs + proxy_->address());
      break;
    case Way::Pac:
    case Way::PacAndRedirect:
      program->setEnvironment(u"https_proxy"_qs, u"pac+file://"_qs + pac);
      break;
    case Way::DesktopSettings:
    case Way::DesktopPacFile:
      useGnomeProxySettings(row.way == Way::DesktopSettings
                                ? "[system/proxy]\nmode='manual'\nignore-hosts=['127.0.0.1']\n\n"
                                  "[system/proxy/https]\nhost='127.0.0.1'\nport=" +
                                      QByteArray::number(proxy_->port()) + "\n"
                                : "[system/proxy]\nmode='auto'\nautoconfig-url='file://" + pac.toUtf8() +
                                      "'\nignore-hosts=@as []\n");
      break;
  }
  if (row.way != Way::Environment && row.way != Way::PacAndRedirect)
    program->setEnvironment(u"OVDOWNLOADER_SERVICE_HOST"_qs,
                            u"localhost:"_qs + QString::number(service->port()));
  if (row.login == Login::Given || row.login == Login::Wrong) {
    program->setEnvironment(u"OVDOWNLOADER_PROXY_USER"_qs, kUser);
    program->setEnvironment(u"OVDOWNLOADER_PROXY_PASSWORD"_qs,
                            row.login == Login::Given ? kPassword : u"not-the-password"_qs);
  }
  program->start({u"--unattended"_qs, u"--no-open"_qs, u"--verbose"_qs, u"--retries=0"_qs}, false);
  ASSERT_TRUE(program->waitForExit(kRunLimit)) << program->output().toStdString();

  EXPECT_EQ(program->exitCode(), row.exitCode) << program->output().toStdString();
  const QStringList err = QString::fromUtf8(program->standardError()).split(u'\n', Qt::SkipEmptyParts);
  EXPECT_TRUE(err.contains(expand(row.outcome))) << program->output().toStdString();
  EXPECT_EQ(err.filter(u"[OVDownloader]The proxy "_qs).size(), row.questions);
  if (row.exitCode == 0) {
    expectByteIdentical();
  } else {
    EXPECT_TRUE(QDir(sandbox_->downloads()).isEmpty());
  }

  QStringList places = proxy_->connects();
  places.removeDuplicates();
  EXPECT_EQ(places, QStringList{expand(row.proxied)}) << proxy_->log().toStdString();
  if (row.way == Way::PacAndRedirect) {
    const auto records = service->requests();
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const auto& r) {
      return r.method == "GET" && r.path.starts_with("/moved/");
    })) << "the installer was fetched where the redirect led";
  }

  const QByteArray written = everythingWritten();
  EXPECT_FALSE(written.contains(kPassword.toUtf8()));
  EXPECT_FALSE(written.contains(kUser.toUtf8()));
}

constexpr const char* kDelivered = "OVDownloader: delivered <downloads>/OrvalenSetup.pkg";

INSTANTIATE_TEST_SUITE_P(Table, ThroughAProxy,
                         ::testing::Values(Row{"TheEnvironmentsProxy", Way::Environment, Login::NotAsked, 0,
                                               kDelivered, "<service>", 0},
                                           Row{"ALoginFromTheEnvironment", Way::Environment, Login::Given, 0,
                                               kDelivered, "<service>", 1},
                                           Row{"NoLoginToGive", Way::Environment, Login::Missing, 4,
                                               "OVDownloader: the proxy <proxy> asks for a user name and "
                                               "password: set OVDOWNLOADER_PROXY_USER and "
                                               "OVDOWNLOADER_PROXY_PASSWORD",
                                               "<service>", 1},
                                           Row{"ARefusedLogin", Way::Environment, Login::Wrong, 4,
                                               "OVDownloader: the proxy <proxy> refused the user name and "
                                               "password of OVDOWNLOADER_PROXY_USER and "
                                               "OVDOWNLOADER_PROXY_PASSWORD",
                                               "<service>", 2},
                                           Row{"APacFileSendsTheServiceToTheProxyAndTheInstallerDirect",
                                               Way::Pac, Login::NotAsked, 0, kDelivered, "<localhost>", 0},
                                           Row{"ARedirectToAnotherHostIsAskedAboutAgain", Way::PacAndRedirect,
                                               Login::Given, 0, kDelivered, "<localhost>", 1},
                                           Row{"TheDesktopsSettingsSendTheServiceToTheProxy",
                                               Way::DesktopSettings, Login::NotAsked, 0, kDelivered,
                                               "<localhost>", 0},
                                           Row{"TheDesktopsPacFileWithALogin", Way::DesktopPacFile,
                                               Login::Given, 0, kDelivered, "<localhost>", 1}),
                         rowName);

}  // namespace
}  // namespace ov::test
