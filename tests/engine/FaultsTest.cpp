// Answers that are not the requested chunk: each fails its chunk, and a
// round with a failed chunk abandons the download once.

#include <algorithm>

#include "tests/engine/EngineFixture.h"
#include "tests/support/TestHttpsServer.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;

QString partName(int index) {
  return QStringLiteral("Setup.pkg.") + QString::number(index);
}

TEST_F(EngineTest, OneFailedChunkAmongTenAbandonsTheDownloadOnce) {
  constexpr std::int64_t size = 10 * kChunk + 1;  // 11 chunks: a second round would follow
  prepare(addInstaller(QStringLiteral("Setup.pkg"), size), size);
  service_->updateScenario([](refservice::Scenario& s) { s.installer.failAtByte = 3 * kChunk; });
  bool othersFinishedFirst = false;
  proxy_->setFailureHook([&](ERROR_Code) {
    // The failure is reported only after every request of the round has ended.
    othersFinishedFirst = mgr_->handledTaskInARound.load() == 10 && chunkRequests().size() == 10;
  });
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  settle();

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_TRUE(othersFinishedFirst);
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_EQ(chunkRequests().size(), 10u);
  EXPECT_TRUE(mgr_->isCancelTask());
  EXPECT_EQ(tasksLeft(), 2u);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 404")), 1);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 206")), 9);
  EXPECT_EQ(
      outputCount(QStringLiteral("OVDownloadMgr::checkTasksStatus(), lstTask is not empty, Do next round!!")),
      0);
  // The arrived chunks stay for the merge that will not come; the 404 page
  // stored for chunk 3 is no chunk.
  for (int i : {0, 1, 2, 4, 5, 6, 7, 8, 9})
    EXPECT_EQ(QFileInfo(tempFolder() + u'/' + partName(i)).size(), kChunk) << i;
  EXPECT_NE(QFileInfo(tempFolder() + u'/' + partName(3)).size(), kChunk);
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
}

struct ServiceFault {
  const char* name;
  std::function<void(refservice::Scenario&)> apply;
  int statusPrinted;  // the status line expected for the faulty chunk; 0 when no answer completes
};

void PrintTo(const ServiceFault& fault, std::ostream* out) {
  *out << fault.name;
}

class ServiceFaultTest : public EngineTest, public ::testing::WithParamInterface<ServiceFault> {};

TEST_P(ServiceFaultTest, FailsTheChunkAndTheDownloadOnce) {
  constexpr std::int64_t size = kChunk + 100'000;
  prepare(addInstaller(QStringLiteral("Setup.pkg"), size), size);
  service_->updateScenario(GetParam().apply);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  settle();

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_EQ(proxy_->completions(), 0);
  EXPECT_EQ(chunkRequests().size(), 2u);
  for (const auto& request : chunkRequests())
    EXPECT_EQ(request.header("If-Range"), mgr_->szETag.toStdString());
  if (GetParam().statusPrinted != 0) {
    EXPECT_GE(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = ") +
                          QString::number(GetParam().statusPrinted)),
              1);
  }
  EXPECT_GE(tasksLeft(), 1u);
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
  EXPECT_FALSE(QFileInfo::exists(downloadsPath(QStringLiteral("Setup.pkg"))));
  EXPECT_TRUE(toolkit_->openedUrls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Installer, ServiceFaultTest,
    ::testing::Values(
        ServiceFault{"NotFound", [](refservice::Scenario& s) { s.installer.failAtByte = kChunk; }, 404},
        ServiceFault{"RangeIgnored", [](refservice::Scenario& s) { s.installer.ignoreRange = true; }, 200},
        // The probe was the first installer request; every GET sees a new tag.
        ServiceFault{"EtagChanged", [](refservice::Scenario& s) { s.installer.etagChangesAfter = 1; }, 200},
        ServiceFault{"ConnectionDropped",
                     [](refservice::Scenario& s) { s.installer.dropAfterBytes = 50'000; }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, AWholeFileAnswerIsTheChunkOfAOneChunkPlan) {
  prepare(addInstaller(QStringLiteral("Setup.pkg"), 70'000), 70'000);
  service_->updateScenario([](refservice::Scenario& s) { s.installer.ignoreRange = true; });
  startDownload();
  ASSERT_TRUE(waitForOutcome());

  EXPECT_THAT(proxy_->failures(), ElementsAre());
  EXPECT_EQ(proxy_->completions(), 1);
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = 200")), 1);
  EXPECT_TRUE(sameFileContents(downloadsPath(QStringLiteral("Setup.pkg")),
                               installerPath(QStringLiteral("Setup.pkg"))));
}

// Answers the service cannot give: the first chunk correctly, the second as
// the case says.
struct CustomFault {
  const char* name;
  int status;
  // Given the requested first and last byte and the file, sets the answer.
  std::function<void(std::int64_t, std::int64_t, const std::string&, httplib::Response&)> answer;
};

void PrintTo(const CustomFault& fault, std::ostream* out) {
  *out << fault.name;
}

class CustomFaultTest : public EngineTest, public ::testing::WithParamInterface<CustomFault> {};

TEST_P(CustomFaultTest, FailsTheChunkAndKeepsTheGoodOne) {
  constexpr std::int64_t size = kChunk + 100'000;
  const std::string body = patternBytes(size);
  ovtest::TestHttpsServer server;
  trustAlso(server.caFile());
  server.handle("GET", "/x/Setup.pkg", [&](const httplib::Request& request, httplib::Response& response) {
    const std::string range = request.get_header_value("Range").substr(6);
    const std::int64_t first = std::stoll(range.substr(0, range.find('-')));
    const std::int64_t last = std::stoll(range.substr(range.find('-') + 1));
    if (first == 0) {
      response.status = 206;
      response.set_header("Content-Range", "bytes " + range + "/" + std::to_string(size));
      response.set_content(body.substr(0, static_cast<std::size_t>(last + 1)), "application/octet-stream");
      return;
    }
    GetParam().answer(first, last, body, response);
  });
  prepare(server.url("/x/Setup.pkg"), size, false);
  startDownload();
  ASSERT_TRUE(waitForOutcome());
  settle();

  EXPECT_THAT(proxy_->failures(), ElementsAre(ERROR_Code::E_DOWNLOAD_FAILED));
  EXPECT_EQ(outputCount(QStringLiteral("OVDownloadMgr::doDownload() Status Code = ") +
                        QString::number(GetParam().status)),
            GetParam().status == 206 ? 2 : 1);
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(readWholeFile(tempFolder() + u'/' + partName(0)).toStdString(), body.substr(0, kChunk));
  EXPECT_EQ(tasksLeft(), 1u);
  EXPECT_FALSE(QFileInfo::exists(saveLocation()));
}

INSTANTIATE_TEST_SUITE_P(
    Server, CustomFaultTest,
    ::testing::Values(
        CustomFault{
            "ShortBody", 206,
            [](std::int64_t first, std::int64_t last, const std::string& body, httplib::Response& response) {
              // The right Content-Range, but a body (and Content-Length) 10 bytes short.
              response.status = 206;
              response.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                       std::to_string(last) + "/" +
                                                       std::to_string(body.size()));
              response.set_content(body.substr(first, last - first + 1 - 10), "application/octet-stream");
            }},
        CustomFault{
            "OtherBytes", 206,
            [](std::int64_t first, std::int64_t last, const std::string& body, httplib::Response& response) {
              // The right length, one byte early.
              response.status = 206;
              response.set_header("Content-Range", "bytes " + std::to_string(first - 1) + "-" +
                                                       std::to_string(last - 1) + "/" +
                                                       std::to_string(body.size()));
              response.set_content(body.substr(first - 1, last - first + 1), "application/octet-stream");
            }},
        CustomFault{"ServerError", 500,
                    [](std::int64_t, std::int64_t, const std::string&, httplib::Response& response) {
                      response.status = 500;
                      response.set_content("Internal Server Error\n", "text/plain");
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace enginetest
