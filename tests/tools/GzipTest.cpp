#include "tools/refservice/Gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace refservice {
namespace {

std::string gunzip(const std::string& data) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
  std::string out(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

TEST(GzipCompress, MakesAGzipMemberThatInflatesBack) {
  for (const std::string& text : {std::string(), std::string("30"), std::string(5000, 'x') + "\r\nend"}) {
    const auto packed = gzipCompress(text);
    ASSERT_GE(packed.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(packed[1]), 0x8b);
    EXPECT_EQ(gunzip(packed), text);
  }
}

struct AcceptCase {
  std::string header;
  bool accepts;
};

class AcceptEncoding : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(AcceptEncoding, AdmitsGzipUnlessWeightedZero) {
  EXPECT_EQ(acceptsGzip(GetParam().header), GetParam().accepts) << GetParam().header;
}

INSTANTIATE_TEST_SUITE_P(Headers, AcceptEncoding,
                         ::testing::Values(AcceptCase{"gzip, deflate", true},
                                           AcceptCase{"deflate, gzip", true}, AcceptCase{"GZIP", true},
                                           AcceptCase{"x-gzip", true}, AcceptCase{"gzip;q=0.5", true},
                                           AcceptCase{"gzip; q=0", false}, AcceptCase{"gzip;q=0.000", false},
                                           AcceptCase{"deflate", false}, AcceptCase{"", false},
                                           AcceptCase{"identity", false}, AcceptCase{"gzipped", false},
                                           AcceptCase{"br, *", false}));

}  // namespace
}  // namespace refservice
