// "writespeed" and "readspeed" hold each connection to its rate: a file sent and a body
// received take the time the limit gives them, and a changed setting holds for the next
// connection.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/transfer_pacer.h"
#include "support/core_fixture.h"
#include "support/http_fetch.h"

namespace morlak::test_support {
namespace {

TEST(BandwidthLimits, FileAndBodyTakeTheTimeTheirLimitGives) {
  const size_t kSize = 300000;
  CoreFixture fixture;
  fixture.data.Write("http/public/big.bin", std::string(kSize, 'x'));
  fixture.Start();
  const struct {
    const char* name;
    int32_t readSpeed, writeSpeed;
    std::string request;
  } cases[] = {
      {"sending", 0, 200000, "GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n"},
      {"receiving", 150000, 0,
       "POST /big.bin HTTP/1.1\r\nHost: x\r\nContent-Length: 300000\r\n\r\n" +
           std::string(kSize, 'y')},
  };
  for (const auto& c : cases) {
    SettingsValues values = fixture.core->Settings().Get();
    values.readSpeed = c.readSpeed;
    values.writeSpeed = c.writeSpeed;
    fixture.core->Settings().Set(values);
    const auto begin = std::chrono::steady_clock::now();
    const HttpReply reply = Fetch(fixture.Port(), c.request);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(reply.status, 200) << c.name;
    EXPECT_EQ(reply.body.size(), kSize) << c.name;
    // The first burst goes at once, the rest at the rate.
    const double paced = c.writeSpeed ? reply.raw.size() : c.request.size();
    const double expected =
        (paced - TransferPacer::kBurstBytes) / (c.writeSpeed ? c.writeSpeed : c.readSpeed);
    EXPECT_NEAR(took, expected, expected * 0.15) << c.name;
  }
}

}  // namespace
}  // namespace morlak::test_support
