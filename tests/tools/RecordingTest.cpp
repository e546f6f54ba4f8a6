#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/tools/ServiceFixture.h"

namespace refservice::testing {
namespace {

TEST_F(ServiceTest, WritesEachFinishedAnswerAsAJsonLine) {
  ServiceOptions options;
  options.recordFile = path("requests.jsonl").toStdString();
  startService(options);
  raw(
      request("POST /prog/util/downloader/update-status.jsp | "
              "TokenID=4F&detail_status=&R=a+b%26c&L=%C3%A9t%C3%A9&R=%FF%00"));
  raw(request("GET /installers/Setup.pkg | Range: bytes=5-14 | X-Q: \"a\"\\"));
  raw(request("BREW /pot"));
  ASSERT_TRUE(service().waitForRequests(
      [](const std::vector<RequestRecord>& r) { return r.size() == 3 && r[2].outcome != Outcome::Pending; },
      std::chrono::seconds(10)));

  std::vector<QJsonObject> json;
  for (const QByteArray& line : readWholeFile(path("requests.jsonl")).trimmed().split('\n')) {
    json.push_back(QJsonDocument::fromJson(line).object());
    // The pseudo-headers the HTTP layer adds for the addresses were not sent.
    EXPECT_FALSE(line.contains("REMOTE_ADDR"));
    EXPECT_EQ(json.back()["seq"].toInt(), static_cast<int>(json.size()));
  }
  ASSERT_EQ(json.size(), 3u);
  const auto form = json[0]["form"].toArray();
  EXPECT_EQ(form[1], (QJsonArray{"detail_status", ""}));
  EXPECT_EQ(form[2], (QJsonArray{"R", "a b&c"}));
  EXPECT_EQ(form[3], (QJsonArray{"L", QString::fromUtf8("\xc3\xa9t\xc3\xa9")}));
  // Bytes that are not UTF-8 are kept as their byte values.
  EXPECT_EQ(form[4], (QJsonArray{"R", QString(QChar(0xff)) + QChar(0)}));
  EXPECT_TRUE(json[1]["headers"].toArray().contains(QJsonArray{"X-Q", "\"a\"\\"}));
  EXPECT_EQ(json[1]["range"].toString(), "bytes=5-14");
  EXPECT_EQ(json[1]["bytesSent"].toInt(), 10);
  EXPECT_EQ(json[1]["outcome"].toString(), "complete");
  EXPECT_EQ(json[2]["status"].toInt(), 400);
  EXPECT_TRUE(json[2]["time"].toString().endsWith('Z'));
}

}  // namespace
}  // namespace refservice::testing
