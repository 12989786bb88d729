// libFuzzer target for the request parser: any bytes from a client, received in pieces of
// any size, must end in an answer or a refusal, never in a crash, a hang or a read past
// the input. The first byte chooses the piece size.
#include <cstdint>
#include <string>

#include "support/memory_io_handler.h"

namespace {

morlak::test_support::MemoryHTTPServer& Server() {
  static morlak::test_support::MemoryHTTPServer* server = [] {
    auto* s = new morlak::test_support::MemoryHTTPServer();
    s->KeepAlive = true;
    s->MaxRequestBodyInMemory = 1 << 16;
    s->OnCommandGet = [](morlak::TIdPeerThread&, morlak::TIdHTTPRequestInfo& rq,
                         morlak::TIdHTTPResponseInfo& rs) {
      // Touch what the handlers read, so a bad field shows up here.
      rs.BodyText = rq.DocumentPath + rq.QueryText + rq.Host + rq.AuthUser;
      for (const auto& line : rq.ParamList.lines) rs.BodyText += line;
      for (const auto& cookie : rq.RequestCookies.items) rs.BodyText += cookie.Name + cookie.Value;
      if (rq.ContentRangeStart > 0) rs.SetStatusCode(206);
    };
    return s;
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  Server().Serve(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), piece);
  return 0;
}
