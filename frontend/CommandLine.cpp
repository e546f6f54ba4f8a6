#include "frontend/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <array>

#include "BuildConfig.h"
#include "frontend/ExitCode.h"
#include "platform/Bundle.h"

namespace ov {

namespace {

// One row per option: what the parser knows and what --help says of it.
struct OptionRow {
  const char* names;      // "h,help": the short name first
  const char* valueName;  // empty: a switch
  const char* description;
  bool unattendedOnly;
};

constexpr std::array<OptionRow, 9> kOptions{{
    {"h,help", "", "Show this help and exit.", false},
    {"v,version", "", "Show the agent's name and version and exit.", false},
    {"unattended", "",
     "Download without a window, countdown or dialog, and end with one of the exit codes below. No display "
     "is needed.",
     false},
    {"retries", "N",
     "Retry a failure the window would offer to retry (no network, a failed transfer, a wrong installer) "
     "at most N times in all, 0 to 100; default 3.",
     true},
    {"retry-wait", "SECONDS",
     "Wait this long before the first retry and twice as long before each next one, at most 60 s a wait; "
     "0 to 60, default 2.",
     true},
    {"no-open", "", "Deliver the installer without opening it.", true},
    {"download-dir", "DIR",
     "Deliver the installer to DIR (made when missing) instead of the Downloads folder.", true},
    {"progress", "FORMAT",
     "auto (default): a line redrawn in place on a terminal, else lines; lines: one line per 5 % and one "
     "per change of state, on stderr; json: one JSON object per line on stdout.",
     true},
    {"verbose", "", "Also write the program's log lines to stderr.", true},
}};

struct EnvironmentRow {
  const char* name;
  const char* description;
};

constexpr std::array<EnvironmentRow, 7> kEnvironment{{
    {"OVDOWNLOADER_SERVICE_HOST", "host[:port] of the download service (always over https)"},
    {"OVDOWNLOADER_CA_FILE", "a PEM file of certificate authorities that replaces the system's"},
    {"https_proxy, no_proxy",
     "the proxy for https requests, and the hosts reached without it; without them, the desktop's proxy "
     "settings, WPAD and PAC files (libproxy)"},
    {"OVDOWNLOADER_PROXY_USER", "with --unattended: the user name for a proxy that asks for one"},
    {"OVDOWNLOADER_PROXY_PASSWORD", "with --unattended: the password for that user name"},
    {"XDG_DOWNLOAD_DIR", "the Downloads folder (as ~/.config/user-dirs.dirs names it)"},
    {"XDG_DATA_HOME", "where a download is put together (~/.local/share)"},
}};

constexpr int kHelpWidth = 80;
constexpr int kDescriptionColumn = 30;

QStringList namesOf(const OptionRow& row) {
  return QString::fromLatin1(row.names).split(u',');
}

QString dashed(const QString& name) {
  return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// `lead`, then `text` broken into lines that start at `column` and end by
// kHelpWidth; a lead that reaches the column gets a line of its own.
QString wrapped(const QString& lead, const QString& text, int column) {
  QStringList lines{QString()};
  for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
    if (!lines.back().isEmpty() && column + lines.back().size() + 1 + word.size() > kHelpWidth)
      lines.append(QString());
    lines.back() += (lines.back().isEmpty() ? QString() : QStringLiteral(" ")) + word;
  }
  const QString indent(column, u' ');
  const QString first = lead.size() < column ? lead.leftJustified(column) : lead + u'\n' + indent;
  return first + lines.join(u'\n' + indent) + u'\n';
}

QString optionLead(const OptionRow& row) {
  const QStringList names = namesOf(row);
  QString lead = QStringLiteral("  ");
  lead += names.size() > 1 ? dashed(names.front()) + QStringLiteral(", ") : QStringLiteral("    ");
  lead += dashed(names.back());
  if (*row.valueName != '\0') lead += QStringLiteral(" <") + QLatin1String(row.valueName) + u'>';
  return lead;
}

CommandLine mistake(const QString& error) {
  CommandLine command;
  command.action = CommandLine::Action::Usage;
  command.error = error;
  return command;
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  for (const OptionRow& row : kOptions)
    parser.addOption(QCommandLineOption(namesOf(row), QString(), QLatin1String(row.valueName)));
  if (!parser.parse(arguments)) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
      return mistake(QStringLiteral("unknown option '%1'").arg(dashed(unknown.front())));
    QString error = parser.errorText();
    if (error.endsWith(u'.')) error.chop(1);
    if (!error.isEmpty()) error[0] = error[0].toLower();
    return mistake(error);
  }
  if (!parser.positionalArguments().isEmpty())
    return mistake(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().front()));

  CommandLine command;
  if (parser.isSet(QStringLiteral("help"))) {
    command.action = CommandLine::Action::Help;
    return command;
  }
  if (parser.isSet(QStringLiteral("version"))) {
    command.action = CommandLine::Action::Version;
    return command;
  }
  const bool unattended = parser.isSet(QStringLiteral("unattended"));
  for (const OptionRow& row : kOptions) {
    const QString name = namesOf(row).back();
    if (row.unattendedOnly && !unattended && parser.isSet(name))
      return mistake(QStringLiteral("%1 works only with --unattended").arg(dashed(name)));
  }
  if (!unattended) return command;
  command.action = CommandLine::Action::Unattended;

  if (parser.isSet(QStringLiteral("retries"))) {
    const QString value = parser.value(QStringLiteral("retries"));
    bool ok = false;
    command.retries = value.toInt(&ok);
    if (!ok || command.retries < 0 || command.retries > 100)
      return mistake(QStringLiteral("--retries '%1' is not a whole number from 0 to 100").arg(value));
  }
  if (parser.isSet(QStringLiteral("retry-wait"))) {
    const QString value = parser.value(QStringLiteral("retry-wait"));
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !(seconds >= 0.0 && seconds <= 60.0))
      return mistake(QStringLiteral("--retry-wait '%1' is not a number of seconds from 0 to 60").arg(value));
    command.retryWait = std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
  }
  command.openInstaller = !parser.isSet(QStringLiteral("no-open"));
  if (parser.isSet(QStringLiteral("download-dir"))) {
    const QString value = parser.value(QStringLiteral("download-dir"));
    if (value.isEmpty()) return mistake(QStringLiteral("--download-dir needs a folder"));
    command.downloadFolder = QDir::cleanPath(QDir::current().absoluteFilePath(value));
  }
  if (parser.isSet(QStringLiteral("progress"))) {
    const QString value = parser.value(QStringLiteral("progress"));
    if (value == u"auto") {
      command.progress = ProgressFormat::Auto;
    } else if (value == u"lines") {
      command.progress = ProgressFormat::Lines;
    } else if (value == u"json") {
      command.progress = ProgressFormat::Json;
    } else {
      return mistake(QStringLiteral("--progress '%1' is not auto, lines or json").arg(value));
    }
  }
  command.verbose = parser.isSet(QStringLiteral("verbose"));
  return command;
}

QString helpText() {
  QString text = QStringLiteral(
      "Usage: OVDownloader [--unattended [options]]\n"
      "\n"
      "Brings the installer of the product that the bundle's MakeInfo.ini names into\n"
      "the Downloads folder and opens it. Without options it shows its window; with\n"
      "--unattended it works without one: the same download, checks, retries and\n"
      "reports to the service, with the answers a person would give fixed.\n"
      "\n"
      "Options:\n");
  for (const OptionRow& row : kOptions) {
    if (QLatin1String(row.names) == u"retries") text += QStringLiteral("With --unattended:\n");
    text += wrapped(optionLead(row), QLatin1String(row.description), kDescriptionColumn);
  }
  text += QStringLiteral("\nEnvironment:\n");
  for (const EnvironmentRow& row : kEnvironment)
    text += wrapped(QStringLiteral("  ") + QLatin1String(row.name), QLatin1String(row.description),
                    kDescriptionColumn);
  text += QStringLiteral("\nExit codes (of --unattended, and of these options):\n");
  for (const ExitCodeEntry& entry : exitCodeTable())
    text += wrapped(QStringLiteral("%1").arg(exitStatus(entry.code), 4), QLatin1String(entry.meaning), 6);
  return text;
}

QString versionText() {
  const Bundle& bundle = Bundle::main();
  const QString version =
      bundle.infoString(QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral(OV_VERSION));
  const QString build =
      bundle.infoString(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral(OV_BUILD_NUMBER));
  return QStringLiteral("OVDownloader %1 (build %2)\n").arg(version, build);
}

QString usageHint() {
  return QStringLiteral("Try 'OVDownloader --help' for more information.");
}

}  // namespace ov
