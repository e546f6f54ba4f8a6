#include "frontend/ExitCode.h"

#include <array>

namespace ov {

namespace {

constexpr std::array<ExitCodeEntry, 12> kTable{{
    {ExitCode::Delivered, "delivered", "delivered: the installer is in the download folder"},
    {ExitCode::BrokenBundle, "broken-bundle", "a part of the program's bundle is missing"},
    {ExitCode::Usage, "usage", "usage: an unknown option, or a bad or missing value"},
    {ExitCode::Cancelled, "cancelled", "cancelled by SIGINT or SIGTERM (reported to the service)"},
    {ExitCode::NoNetwork, "no-network",
     "no network connection, also after the retries, or a proxy that wants a user name and password that "
     "the run does not have"},
    {ExitCode::Service, "service",
     "the download service gave no installer, or requires a newer agent (its link is printed)"},
    {ExitCode::DownloadFailed, "download-failed", "the download failed, also after the retries"},
    {ExitCode::Integrity, "integrity", "the installer's size or digest was wrong, also after the retries"},
    {ExitCode::DiskSpace, "disk-space", "not enough free disk space, or a folder that cannot be made"},
    {ExitCode::BadMakeInfo, "bad-make-info", "the bundle's MakeInfo.ini is missing or unreadable"},
    {ExitCode::AnotherInstance, "another-instance", "another OVDownloader is already downloading"},
    {ExitCode::SystemTooOld, "system-too-old", "the product needs a newer operating system"},
}};

constexpr bool numberedInOrder() {
  for (std::size_t i = 0; i < kTable.size(); ++i)
    if (static_cast<std::size_t>(kTable[i].code) != i) return false;
  return true;
}
static_assert(numberedInOrder(), "the table lists every code once, at its own number");

}  // namespace

std::span<const ExitCodeEntry> exitCodeTable() {
  return kTable;
}

const ExitCodeEntry& exitCodeEntry(ExitCode code) {
  return kTable[static_cast<std::size_t>(code)];
}

}  // namespace ov
