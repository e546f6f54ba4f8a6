#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/refservice/FormBody.h"

namespace refservice {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// How far the answer to a request has got.
enum class Outcome {
  Pending,   // being answered: body bytes may still follow
  Complete,  // every byte of the answer was written
  Aborted,   // the connection ended before the answer was complete (a fault, the peer, a stop)
};

// One request the service received and what it answered.
struct RequestRecord {
  std::uint64_t seq = 0;                       // arrival order from 1
  std::chrono::system_clock::time_point time;  // arrival, wall clock
  std::chrono::microseconds sinceStart{0};     // arrival, steady clock from start()
  std::string peer;                            // "address:port" of the client's connection
  std::string method;
  std::string target;          // as sent, query included
  std::string path;            // percent-decoded, no query
  HeaderList headers;          // name order (the HTTP layer sorts them), values as sent
  std::string body;            // POST bodies only
  Fields form;                 // decoded POST fields, when the body is valid form encoding
  std::string range;           // the Range header as sent; empty when none
  int status = 0;              // 0 until the answer's status is chosen
  HeaderList responseHeaders;  // the headers the service chose (the HTTP layer adds Keep-Alive)
  std::int64_t bytesSent = 0;  // body bytes written so far
  Outcome outcome = Outcome::Pending;
  bool held = false;  // the body waits for a hold to be released
  std::string fault;  // the scenario faults that shaped the answer, "; " between them; empty when none
  std::string error;  // why the request was rejected; empty when it was not

  // First value of a request header, names compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
  std::optional<std::string> responseHeader(std::string_view name) const;
  // First value of a decoded form field, names compared exactly.
  std::optional<std::string> field(std::string_view name) const;
  void addFault(const std::string& note);
};

// The record as one line of JSON (no line end). Bytes that are not UTF-8
// are written as \u00XX escapes of their byte values.
std::string toJsonLine(const RequestRecord& record);

std::string_view outcomeName(Outcome outcome);

}  // namespace refservice
