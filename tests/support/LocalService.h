#pragma once

#include <QString>

#include "net/HttpClient.h"
#include "service/ServiceRequest.h"
#include "tools/refservice/ReferenceService.h"

namespace ov::test {

// The reference service on loopback as the program's download service: while
// it lives, service calls go to it and HTTPS trusts its throw-away CA. The
// destructor puts the host and the CA file back before the service stops.
// Header-only, so that only the test folders that link the service use it.
class LocalService : public refservice::ReferenceService {
 public:
  explicit LocalService(refservice::ServiceOptions options) : ReferenceService(std::move(options)) {
    start();
    previousCaFile_ = ov::httpSettings().caFile;
    ov::httpSettings().caFile = QString::fromStdString(caFile());
    setServiceHostForTesting(QString::fromStdString(hostAndPort()));
  }
  ~LocalService() {
    setServiceHostForTesting(std::nullopt);
    ov::httpSettings().caFile = previousCaFile_;
  }

  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

 private:
  QString previousCaFile_;
};

}  // namespace ov::test
