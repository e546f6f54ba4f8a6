#include <gtest/gtest.h>

#include "frontend/ExitCode.h"
#include "tests/support/Files.h"

namespace ov::test {
namespace {

using test::PrintTo;

struct Pin {
  const char* name;
  ExitCode code;
  int number;
  const char* failure;  // the name scripts read in the JSON
};

class ExitCodes : public ::testing::TestWithParam<Pin> {};

// Scripts and deployment tools act on these numbers and names: once given,
// they never change. A new outcome is a new row with the next free number.
TEST_P(ExitCodes, KeepTheirNumberAndName) {
  const Pin& pin = GetParam();
  EXPECT_EQ(exitStatus(pin.code), pin.number);
  EXPECT_STREQ(exitCodeEntry(pin.code).name, pin.failure);
  EXPECT_LT(pin.number, 64);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExitCodes,
    ::testing::Values(Pin{"Delivered", ExitCode::Delivered, 0, "delivered"},
                      Pin{"BrokenBundle", ExitCode::BrokenBundle, 1, "broken-bundle"},
                      Pin{"Usage", ExitCode::Usage, 2, "usage"},
                      Pin{"Cancelled", ExitCode::Cancelled, 3, "cancelled"},
                      Pin{"NoNetwork", ExitCode::NoNetwork, 4, "no-network"},
                      Pin{"Service", ExitCode::Service, 5, "service"},
                      Pin{"DownloadFailed", ExitCode::DownloadFailed, 6, "download-failed"},
                      Pin{"Integrity", ExitCode::Integrity, 7, "integrity"},
                      Pin{"DiskSpace", ExitCode::DiskSpace, 8, "disk-space"},
                      Pin{"BadMakeInfo", ExitCode::BadMakeInfo, 9, "bad-make-info"},
                      Pin{"AnotherInstance", ExitCode::AnotherInstance, 10, "another-instance"},
                      Pin{"SystemTooOld", ExitCode::SystemTooOld, 11, "system-too-old"}),
    rowName);

}  // namespace
}  // namespace ov::test
