// libFuzzer target for the cookie and parameter decoders: any "Cookie" header values and
// any parameter text must decode without a crash, and within the decoders' own limits.
// Input: cookie text, a NUL, parameter text.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/cookies.h"
#include "engine/header_list.h"
#include "engine/http_codings.h"
#include "engine/http_request_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view cookies = input.substr(0, nul);
  const std::string_view params =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  morlak::TIdHeaderList headers;
  size_t start = 0;
  while (start <= cookies.size()) {
    const size_t brk = cookies.find('\n', start);
    headers.Add("Cookie: " + std::string(cookies.substr(start, brk - start)));
    if (brk == std::string_view::npos) break;
    start = brk + 1;
  }
  morlak::TIdCookies jar;
  jar.AddFromRequestHeaders(headers);
  if (jar.Count() > morlak::TIdCookies::kMaxRequestCookies) __builtin_trap();
  // Every cookie comes from its own piece of the text.
  size_t cookieText = 0;
  for (const auto& cookie : jar.items) cookieText += cookie.Name.size() + cookie.Value.size() + 1;
  if (cookieText > cookies.size() + 1) __builtin_trap();

  morlak::TIdHTTPRequestInfo request;
  request.DecodeAndSetParams(params);
  if (request.ParamList.Count() > morlak::TIdHTTPRequestInfo::kMaxParams) __builtin_trap();
  size_t decoded = 0;
  for (const auto& line : request.ParamList.lines) decoded += line.size();
  if (decoded > params.size()) __builtin_trap();
  return 0;
}
