#include "tools/refservice/ProtocolResponder.h"

#include <algorithm>
#include <cctype>

#include "tools/refservice/FormBody.h"
#include "tools/refservice/Gzip.h"

namespace refservice {
namespace {

constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr std::int64_t kSlowReportBytes = 600;

struct Answer {
  int status = 200;
  std::string text;
};

bool isReport(std::string_view endpoint) {
  return endpoint == kUpdateInfo || endpoint == kUpdateStatus || endpoint == kUpdateSize;
}

// A byte every second keeps any idle or low-speed time-out of the client from
// firing for ten minutes; only an overall deadline ends such an answer early.
void sendSlowly(Exchange& exchange, Answer answer) {
  BodyStream::Source source;
  answer.text.resize(kSlowReportBytes, ' ');
  source.length = kSlowReportBytes;
  source.text = std::move(answer.text);
  BodyStream::Pacing pacing;
  pacing.bytesPerSecond = 1;
  exchange.noteFault("report body at one byte a second");
  exchange.sendStream(answer.status, kTextType, std::move(source), pacing);
}

bool isFormContentType(const std::string& value) {
  constexpr std::string_view type = "application/x-www-form-urlencoded";
  std::string lower;
  for (const char c : value.substr(0, value.find(';')))
    if (c != ' ' && c != '\t') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == type;
}

Answer linkAnswer(ServiceContext& context, const Scenario& scenario) {
  const auto crlf = scenario.linkCrLf ? std::string("\r\n") : std::string();
  if (scenario.link == LinkAnswer::ServerError) return {scenario.linkStatus, "ERROR: 000" + crlf};
  if (scenario.link == LinkAnswer::RawText) return {scenario.linkStatus, scenario.linkText};
  auto name = scenario.linkInstaller;
  if (name.empty()) {
    const auto names = context.catalog.names();
    if (names.empty()) {
      context.log.write("link query: no installer to name, answering \"ERROR: 000\"");
      return {scenario.linkStatus, "ERROR: 000" + crlf};
    }
    name = names.front();
  }
  auto link = context.installerLink(name, scenario.linkHttpScheme);
  if (scenario.link == LinkAnswer::NeedUpdate)
    return {scenario.linkStatus,
            "ERROR: 001\r\n" + (scenario.updateLink.empty() ? link : scenario.updateLink) + crlf};
  if (scenario.signedLinks) link += "?sig=" + context.state.signLink(name);
  return {scenario.linkStatus, link + crlf};
}

Answer answerFor(ServiceContext& context, const Scenario& scenario, std::string_view endpoint) {
  if (endpoint == kGetLink) return linkAnswer(context, scenario);
  if (endpoint == kHeartbeat) return {scenario.heartbeatStatus, scenario.heartbeatText};
  if (endpoint == kUpdateInfo) return {scenario.updateInfoStatus, "OK"};
  if (endpoint == kUpdateStatus) return {scenario.updateStatusStatus, "OK"};
  return {scenario.updateSizeStatus, "OK"};
}

}  // namespace

void answerServicePost(Exchange& exchange, std::string_view endpoint) {
  const auto& request = exchange.request();
  exchange.record([&](RequestRecord& r) { r.body = request.body; });
  if (endpoint != kGetLink && endpoint != kHeartbeat && !isReport(endpoint))
    return exchange.sendText(404, "no such endpoint\n");
  if (!isFormContentType(request.get_header_value("Content-Type")))
    return exchange.reject(400, "Content-Type is not application/x-www-form-urlencoded: \"" +
                                    request.get_header_value("Content-Type") + "\"");
  auto form = decodeForm(request.body);
  if (!form.ok()) return exchange.reject(400, "body is not form encoding: " + form.error);
  exchange.record([&](RequestRecord& r) { r.form = std::move(form.fields); });

  auto& context = exchange.context();
  const auto scenario = context.state.scenario();
  if (scenario.answerDelay.count() > 0 && !context.state.sleepFor(scenario.answerDelay))
    return exchange.reject(503, "service stopping");
  auto answer = answerFor(context, scenario, endpoint);
  if (scenario.slowReports && isReport(endpoint)) return sendSlowly(exchange, std::move(answer));
  if (scenario.gzip && acceptsGzip(request.get_header_value("Accept-Encoding"))) {
    answer.text = gzipCompress(answer.text);
    exchange.setHeader("Content-Encoding", "gzip");
  }
  exchange.sendText(answer.status, std::move(answer.text));
}

}  // namespace refservice
