#include <gtest/gtest.h>

#include <thread>

#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

constexpr std::int64_t kSize = ServiceTest::kInstallerSize;

TEST_F(ServiceTest, HeadGivesSizeStrongEtagAndAcceptRanges) {
  const auto result = client()->Head("/installers/Setup.pkg");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(kSize));
  EXPECT_EQ(result->get_header_value("Accept-Ranges"), "bytes");
  const auto etag = result->get_header_value("ETag");
  ASSERT_GE(etag.size(), 3u);
  EXPECT_EQ(etag.front(), '"');
  EXPECT_EQ(etag.back(), '"');
  EXPECT_TRUE(result->body.empty());
  EXPECT_EQ(client()->Head("/installers/Setup.pkg")->get_header_value("ETag"), etag);
  EXPECT_EQ(lastFinishedRecord().outcome, Outcome::Complete);
}

TEST_F(ServiceTest, GetWithoutRangeGivesTheWholeFile) {
  const auto result = get("/installers/Setup.pkg");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Range"), "");
  EXPECT_TRUE(result->body == installer_);
  const auto record = lastFinishedRecord();
  EXPECT_EQ(record.bytesSent, kSize);
  EXPECT_EQ(record.outcome, Outcome::Complete);
}

struct RangeCase {
  std::string range;
  std::int64_t first;
  std::int64_t last;
};

class RangeAnswers : public ServiceTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeAnswers, Give206WithContentRangeAndExactlyThoseBytes) {
  const auto result = get("/installers/Setup.pkg", {{"Range", GetParam().range}});
  ASSERT_TRUE(result);
  const auto [range, first, last] = GetParam();
  EXPECT_EQ(result->status, 206);
  EXPECT_EQ(result->get_header_value("Content-Range"),
            "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(kSize));
  EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(last - first + 1));
  EXPECT_FALSE(result->get_header_value("ETag").empty());
  EXPECT_TRUE(result->body == installerBytes(first, last)) << range;
  const auto record = lastFinishedRecord();
  EXPECT_EQ(record.range, range);
  EXPECT_EQ(record.bytesSent, last - first + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, RangeAnswers,
    ::testing::Values(RangeCase{"bytes=0-0", 0, 0}, RangeCase{"bytes=0-65535", 0, 65535},
                      RangeCase{"bytes=65536-200000", 65536, 200000}, RangeCase{"bytes=100-", 100, kSize - 1},
                      RangeCase{"bytes=" + std::to_string(kSize - 1) + "-", kSize - 1, kSize - 1},
                      RangeCase{"bytes=250000-999999999", 250000, kSize - 1},
                      RangeCase{"bytes=-10", kSize - 10, kSize - 1},
                      RangeCase{"bytes=-" + std::to_string(kSize + 5), 0, kSize - 1}));

class UnsatisfiableRange : public ServiceTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnsatisfiableRange, Gives416WithTheSize) {
  const auto result = get("/installers/Setup.pkg", {{"Range", GetParam()}});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 416);
  EXPECT_EQ(result->get_header_value("Content-Range"), "bytes */" + std::to_string(kSize));
  EXPECT_TRUE(result->body.empty());
}

INSTANTIATE_TEST_SUITE_P(Ranges, UnsatisfiableRange,
                         ::testing::Values("bytes=" + std::to_string(kSize) + "-", "bytes=-0",
                                           "bytes=" + std::to_string(kSize) + "-" +
                                               std::to_string(kSize + 10),
                                           "bytes=9223372036854775000-"));

TEST_F(ServiceTest, IfRangeHonoursOnlyTheCurrentStrongEtag) {
  const auto etag = client()->Head("/installers/Setup.pkg")->get_header_value("ETag");
  const auto matching = get("/installers/Setup.pkg", {{"Range", "bytes=10-19"}, {"If-Range", etag}});
  EXPECT_EQ(matching->status, 206);
  EXPECT_TRUE(matching->body == installerBytes(10, 19));
  for (const auto& validator :
       {std::string("\"other\""), "W/" + etag, std::string("Tue, 01 Jan 2030 00:00:00 GMT")}) {
    const auto stale = get("/installers/Setup.pkg", {{"Range", "bytes=10-19"}, {"If-Range", validator}});
    EXPECT_EQ(stale->status, 200) << validator;
    EXPECT_EQ(stale->get_header_value("Content-Range"), "");
    EXPECT_TRUE(stale->body == installer_) << validator;
  }
}

TEST_F(ServiceTest, SeveralRangesGetTheWholeFileNotMultipart) {
  const auto result = get("/installers/Setup.pkg", {{"Range", "bytes=0-1,5-7,-3"}});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(result->body == installer_);
}

TEST_F(ServiceTest, RangeAnswersAreNeverCompressed) {
  service().updateScenario([](Scenario& s) { s.gzip = true; });
  auto c = client();
  c->set_decompress(false);
  const auto result =
      c->Get("/installers/Setup.pkg", {{"Range", "bytes=0-999"}, {"Accept-Encoding", "gzip"}});
  EXPECT_EQ(result->status, 206);
  EXPECT_EQ(result->get_header_value("Content-Encoding"), "");
  EXPECT_TRUE(result->body == installerBytes(0, 999));
}

TEST_F(ServiceTest, UnknownOrEscapingNamesAre404) {
  writeFile(folder_ / "secret.txt", "TOP-SECRET-CONTENT");
  for (const auto& path : {"/installers/Nope.pkg", "/installers/..%2Fsecret.txt", "/installers/%2E%2E",
                           "/installers/", "/installers/sub/Setup.pkg"}) {
    const auto result = get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 404) << path;
    EXPECT_EQ(result->body.find("TOP-SECRET-CONTENT"), std::string::npos);
  }
}

TEST_F(ServiceTest, ServesFilesAddedAfterStartAndExplicitFiles) {
  writeFile(folder_ / "installers" / "Later.pkg", "later bytes");
  EXPECT_EQ(get("/installers/Later.pkg")->body, "later bytes");
  writeFile(folder_ / "Elsewhere.dmg", "elsewhere");
  ServiceOptions options;
  options.installerFiles = {(folder_ / "Elsewhere.dmg").string()};
  startService(options);
  EXPECT_EQ(get("/installers/Elsewhere.dmg")->body, "elsewhere");
  EXPECT_EQ(post("get-link.jsp", "SR=1")->body, service().installerUrl("Elsewhere.dmg") + "\r\n");
}

TEST_F(ServiceTest, AnEmptyInstallerHasSizeZeroAndNoSatisfiableRange) {
  writeFile(folder_ / "installers" / "Empty.pkg", "");
  EXPECT_EQ(client()->Head("/installers/Empty.pkg")->get_header_value("Content-Length"), "0");
  const auto whole = get("/installers/Empty.pkg");
  EXPECT_EQ(whole->status, 200);
  EXPECT_TRUE(whole->body.empty());
  EXPECT_EQ(get("/installers/Empty.pkg", {{"Range", "bytes=0-0"}})->status, 416);
}

TEST_F(ServiceTest, StreamsBeyondFourGibibytesWithoutReadingTheFile) {
  // A sparse file: 5 GiB of size, no disk blocks.
  constexpr std::int64_t size = 5LL << 30;
  const auto path = folder_ / "installers" / "Huge.pkg";
  writeFile(path, "head");
  std::filesystem::resize_file(path, size);
  EXPECT_EQ(client()->Head("/installers/Huge.pkg")->get_header_value("Content-Length"), std::to_string(size));
  const auto tail = get("/installers/Huge.pkg", {{"Range", "bytes=" + std::to_string(size - 120) + "-"}});
  EXPECT_EQ(tail->status, 206);
  EXPECT_EQ(
      tail->get_header_value("Content-Range"),
      "bytes " + std::to_string(size - 120) + "-" + std::to_string(size - 1) + "/" + std::to_string(size));
  EXPECT_EQ(tail->body, std::string(120, '\0'));
  EXPECT_EQ(get("/installers/Huge.pkg", {{"Range", "bytes=0-3"}})->body, "head");
}

TEST_F(ServiceTest, KeepsAliveAcrossRequests) {
  auto c = client();
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(
        c->Get("/installers/Setup.pkg", {{"Range", "bytes=" + std::to_string(i) + "-" + std::to_string(i)}})
            ->status,
        206);
  ASSERT_TRUE(c->Post("/prog/util/downloader/heartbeat.jsp", "SR=1", "application/x-www-form-urlencoded"));
  const auto records = service().requests();
  ASSERT_EQ(records.size(), 13u);
  for (const auto& r : records) EXPECT_EQ(r.peer, records.front().peer);
}

TEST_F(ServiceTest, ServesFortyConnectionsAtOnce) {
  // Every body is held before its first byte, so all forty connections must be open together.
  service().setHold(true);
  constexpr int count = 40;
  std::vector<std::thread> clients;
  std::vector<std::string> bodies(count);
  for (int i = 0; i < count; ++i)
    clients.emplace_back([this, i, &bodies] {
      const auto first = i * 1000;
      const auto result =
          get("/installers/Setup.pkg",
              {{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(first + 999)}});
      if (result) bodies[i] = result->body;
    });
  const bool allHeld = service().waitForRequests(
      [&](const std::vector<RequestRecord>& records) {
        return std::count_if(records.begin(), records.end(), [](const RequestRecord& r) { return r.held; }) ==
               count;
      },
      std::chrono::seconds(20));
  service().setHold(false);
  for (auto& thread : clients) thread.join();
  EXPECT_TRUE(allHeld);
  for (int i = 0; i < count; ++i) EXPECT_TRUE(bodies[i] == installerBytes(i * 1000, i * 1000 + 999)) << i;
}

}  // namespace
}  // namespace refservice::testing
