#include "tools/refservice/Exchange.h"

#include <array>

namespace refservice {
namespace {

bool isPseudoHeader(const std::string& name) {
  static constexpr std::array<std::string_view, 4> names{"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR",
                                                         "LOCAL_PORT"};
  for (const auto candidate : names)
    if (name == candidate) return true;
  return false;
}

}  // namespace

LineLog::LineLog(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {}

void LineLog::write(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (sink_) sink_(line);
}

RequestRecord recordOf(const httplib::Request& request, std::chrono::steady_clock::time_point start) {
  RequestRecord record;
  record.time = std::chrono::system_clock::now();
  record.sinceStart =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  record.peer = request.remote_addr + ":" + std::to_string(request.remote_port);
  record.method = request.method;
  record.target = request.target;
  record.path = request.path;
  for (const auto& [name, value] : request.headers)
    if (!isPseudoHeader(name)) record.headers.emplace_back(name, value);
  record.range = record.header("Range").value_or("");
  return record;
}

Exchange::Exchange(ServiceContext& context, const httplib::Request& request, httplib::Response& response)
    : context_(context),
      request_(request),
      response_(response),
      seq_(context.journal.begin(recordOf(request, context.started))) {}

void Exchange::setHeader(const std::string& name, const std::string& value) {
  response_.set_header(name, value);
  responseHeaders_.emplace_back(name, value);
}

void Exchange::clearHeaders() {
  response_.headers.clear();
  responseHeaders_.clear();
}

void Exchange::noteFault(const std::string& fault) {
  context_.journal.update(seq_, [&](RequestRecord& r) { r.addFault(fault); });
}

void Exchange::record(const std::function<void(RequestRecord&)>& change) {
  context_.journal.update(seq_, change);
}

void Exchange::commit(int status) {
  response_.status = status;
  context_.journal.update(seq_, [&](RequestRecord& r) {
    r.status = status;
    r.responseHeaders = responseHeaders_;
  });
  if (context_.logEveryRequest)
    context_.log.write(std::to_string(status) + " " + request_.method + " " + request_.target);
}

void Exchange::sendText(int status, std::string body, const std::string& contentType) {
  BodyStream::Source source;
  source.length = static_cast<std::int64_t>(body.size());
  source.text = std::move(body);
  sendStream(status, contentType, std::move(source), {});
}

void Exchange::sendHeadersOnly(int status, const std::string& contentLength) {
  setHeader("Content-Length", contentLength);
  commit(status);
  context_.journal.finish(seq_, Outcome::Complete);
}

void Exchange::sendStream(int status, const std::string& contentType, BodyStream::Source source,
                          BodyStream::Pacing pacing) {
  const auto length = source.length;
  setHeader("Content-Length", std::to_string(length));
  if (length == 0 || request_.method == "HEAD") {
    setHeader("Content-Type", contentType);
    commit(status);
    context_.journal.finish(seq_, Outcome::Complete);
    return;
  }
  responseHeaders_.emplace_back("Content-Type", contentType);
  commit(status);
  pacing.closeAfter = closeAfter_;
  auto stream =
      std::make_shared<BodyStream>(context_.journal, seq_, context_.state, std::move(source), pacing);
  // A provider without a length: the HTTP layer then leaves Content-Length,
  // Range and Content-Encoding to us and writes exactly what the stream gives.
  response_.set_content_provider(
      contentType, [stream](std::size_t, httplib::DataSink& sink) { return stream->provide(sink); },
      [stream](bool) { stream->released(); });
}

void Exchange::reject(int status, const std::string& reason) {
  record([&](RequestRecord& r) { r.error = reason; });
  context_.log.write(std::to_string(status) + " " + request_.method + " " + request_.target + ": " + reason);
  sendText(status, reason + "\n");
}

}  // namespace refservice
