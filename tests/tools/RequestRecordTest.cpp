#include "tools/refservice/RequestRecord.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tools/refservice/RequestJournal.h"

namespace refservice {
namespace {

QJsonObject parsed(const std::string& line) {
  QJsonParseError error{};
  const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
  return document.object();
}

RequestRecord sample() {
  RequestRecord r;
  r.seq = 7;
  r.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'700'000'000'123));
  r.sinceStart = std::chrono::microseconds(2'500'000);
  r.peer = "127.0.0.1:40000";
  r.method = "POST";
  r.target = "/prog/util/downloader/get-link.jsp";
  r.path = r.target;
  r.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"X-Quote", "say \"hi\"\\"}};
  r.body = "SR=%0D%0A";
  r.form = {{"SR", "\r\n"}, {"LANGUAGE", "\xc3\xa9t\xc3\xa9"}, {"bad", "a\xff\x01z"}};
  r.status = 200;
  r.responseHeaders = {{"Content-Length", "12"}};
  r.bytesSent = 12;
  r.outcome = Outcome::Complete;
  r.fault = "none";
  return r;
}

TEST(RequestRecordJson, IsOneValidJsonLineWithEveryField) {
  const auto line = toJsonLine(sample());
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto json = parsed(line);
  EXPECT_EQ(json["seq"].toInt(), 7);
  EXPECT_EQ(json["time"].toString(), "2023-11-14T22:13:20.123Z");
  EXPECT_EQ(json["sinceStartMs"].toInt(), 2500);
  EXPECT_EQ(json["peer"].toString(), "127.0.0.1:40000");
  EXPECT_EQ(json["method"].toString(), "POST");
  EXPECT_EQ(json["path"].toString(), "/prog/util/downloader/get-link.jsp");
  EXPECT_EQ(json["headers"].toArray()[1].toArray()[1].toString(), "say \"hi\"\\");
  EXPECT_EQ(json["body"].toString(), "SR=%0D%0A");
  const auto form = json["form"].toArray();
  EXPECT_EQ(form[0].toArray()[1].toString(), "\r\n");
  EXPECT_EQ(form[1].toArray()[1].toString(), QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
  // Bytes that are not UTF-8 are kept as their byte values.
  EXPECT_EQ(form[2].toArray()[1].toString(), QString("a") + QChar(0xff) + QChar(0x01) + "z");
  EXPECT_EQ(json["status"].toInt(), 200);
  EXPECT_EQ(json["responseHeaders"].toArray()[0].toArray()[0].toString(), "Content-Length");
  EXPECT_EQ(json["bytesSent"].toInt(), 12);
  EXPECT_EQ(json["outcome"].toString(), "complete");
  EXPECT_EQ(json["fault"].toString(), "none");
  EXPECT_EQ(json["error"].toString(), "");
}

TEST(RequestRecordJson, EscapesOverlongAndSurrogateSequences) {
  auto r = sample();
  r.body = "\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x82";
  const auto json = parsed(toJsonLine(r));
  EXPECT_EQ(json["body"].toString().size(), 14);
}

TEST(RequestRecordLookup, HeadersIgnoreCaseFieldsDoNot) {
  const auto r = sample();
  EXPECT_EQ(r.header("content-type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.header("Range"), std::nullopt);
  EXPECT_EQ(r.responseHeader("CONTENT-LENGTH"), "12");
  EXPECT_EQ(r.field("SR"), "\r\n");
  EXPECT_EQ(r.field("sr"), std::nullopt);
}

TEST(RequestJournal, FinishesOnceAndIgnoresClearedRecords) {
  RequestJournal journal;
  const auto first = journal.begin({});
  journal.finish(first, Outcome::Aborted);
  journal.finish(first, Outcome::Complete);
  EXPECT_EQ(journal.snapshot().at(0).outcome, Outcome::Aborted);
  journal.clear();
  journal.update(first, [](RequestRecord& r) { r.status = 500; });
  EXPECT_TRUE(journal.snapshot().empty());
  const auto second = journal.begin({});
  EXPECT_EQ(second, first + 1);
  journal.update(second, [](RequestRecord& r) { r.status = 204; });
  EXPECT_EQ(journal.snapshot().at(0).status, 204);
}

TEST(RequestJournal, WaitForGivesThePredicatesLastValue) {
  RequestJournal journal;
  EXPECT_FALSE(
      journal.waitFor([](const auto& records) { return !records.empty(); }, std::chrono::milliseconds(20)));
  std::thread writer([&] { journal.begin({}); });
  EXPECT_TRUE(
      journal.waitFor([](const auto& records) { return !records.empty(); }, std::chrono::seconds(10)));
  writer.join();
}

}  // namespace
}  // namespace refservice
