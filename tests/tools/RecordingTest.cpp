#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sstream>

#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

std::vector<QJsonObject> jsonLines(const std::string& text) {
  std::vector<QJsonObject> objects;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    objects.push_back(document.object());
  }
  return objects;
}

TEST_F(ServiceTest, WritesOneJsonLinePerFinishedAnswer) {
  ServiceOptions options;
  options.recordFile = (folder_ / "requests.jsonl").string();
  startService(options);
  ASSERT_TRUE(post("update-info.jsp", "TokenID=T1&UUID=&url=https%3A%2F%2Fh%2Fs.pkg"));
  ASSERT_TRUE(get("/installers/Setup.pkg", {{"Range", "bytes=5-14"}}));
  raw("BREW /pot HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(service().waitForRequests(
      [](const std::vector<RequestRecord>& r) {
        return r.size() == 3 &&
               std::all_of(r.begin(), r.end(), [](auto& x) { return x.outcome != Outcome::Pending; });
      },
      std::chrono::seconds(10)));

  const auto lines = jsonLines(readFile(options.recordFile));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["method"].toString(), "POST");
  EXPECT_EQ(lines[0]["path"].toString(), "/prog/util/downloader/update-info.jsp");
  const auto form = lines[0]["form"].toArray();
  ASSERT_EQ(form.size(), 3);
  EXPECT_EQ(form[2].toArray()[1].toString(), "https://h/s.pkg");
  EXPECT_EQ(lines[0]["status"].toInt(), 200);
  EXPECT_EQ(lines[1]["range"].toString(), "bytes=5-14");
  EXPECT_EQ(lines[1]["status"].toInt(), 206);
  EXPECT_EQ(lines[1]["bytesSent"].toInt(), 10);
  EXPECT_EQ(lines[1]["outcome"].toString(), "complete");
  EXPECT_EQ(lines[2]["method"].toString(), "BREW");
  EXPECT_EQ(lines[2]["status"].toInt(), 400);
  EXPECT_FALSE(lines[2]["error"].toString().isEmpty());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i]["seq"].toInt(), static_cast<int>(i + 1));
    EXPECT_TRUE(lines[i]["time"].toString().endsWith('Z'));
  }
}

TEST_F(ServiceTest, RecordsOnlyTheHeadersThatWereSent) {
  ASSERT_TRUE(get("/installers/Setup.pkg", {{"Range", "bytes=0-0"}, {"X-Probe", "one"}}));
  const auto record = lastFinishedRecord();
  EXPECT_EQ(record.header("X-Probe"), "one");
  EXPECT_EQ(record.header("Range"), "bytes=0-0");
  for (const auto* pseudo : {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"})
    EXPECT_EQ(record.header(pseudo), std::nullopt) << pseudo;
  EXPECT_EQ(record.peer.rfind("127.0.0.1:", 0), 0u);
  EXPECT_EQ(record.responseHeader("Content-Range"), "bytes 0-0/" + std::to_string(kInstallerSize));
}

TEST_F(ServiceTest, RecordsArriveInOrderAndCanBeCleared) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(post("heartbeat.jsp", "SR=" + std::to_string(i)));
  auto records = service().requests();
  ASSERT_EQ(records.size(), 3u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].field("SR"), std::to_string(i));
    if (i > 0) {
      EXPECT_GT(records[i].seq, records[i - 1].seq);
      EXPECT_GE(records[i].sinceStart, records[i - 1].sinceStart);
    }
  }
  service().clearRequests();
  EXPECT_TRUE(service().requests().empty());
  ASSERT_TRUE(post("heartbeat.jsp", "SR=9"));
  records = service().requests();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].seq, 4u);
}

TEST_F(ServiceTest, GivenCertificatesAreServedAndNamedAsTheCa) {
  const auto given = folder_ / "given";
  std::filesystem::create_directories(given);
  ServiceOptions made;
  made.stateFolder = given.string();
  ReferenceService maker(made);
  maker.start();
  maker.stop();

  ServiceOptions options;
  options.certificateFile = (given / "server.pem").string();
  options.keyFile = (given / "server.key").string();
  options.caFile = (given / "ca.pem").string();
  startService(options);
  EXPECT_EQ(service().caFile(), options.caFile);
  EXPECT_EQ(post("heartbeat.jsp", "SR=1")->body, "30");

  options.keyFile.clear();
  ReferenceService keyless(options);
  EXPECT_THROW(keyless.start(), std::runtime_error);
}

TEST_F(ServiceTest, StartsOnceAndReportsABusyPort) {
  EXPECT_THROW(service().start(), std::runtime_error);
  ServiceOptions options;
  options.port = service().port();
  options.stateFolder = (folder_ / "second").string();
  ReferenceService second(options);
  EXPECT_THROW(second.start(), std::runtime_error);
}

TEST(ReferenceServiceLifetime, AServiceWithoutStateFolderCleansUpItsCertificates) {
  std::string caFile;
  {
    ReferenceService service;
    service.start();
    caFile = service.caFile();
    EXPECT_TRUE(std::filesystem::exists(caFile));
  }
  EXPECT_FALSE(std::filesystem::exists(caFile));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(caFile).parent_path()));
}

}  // namespace
}  // namespace refservice::testing
