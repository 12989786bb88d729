#include "engine/base64.h"

#include <array>

#include "engine/engine_errors.h"

namespace morlak {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kFill = 64;
constexpr int kInvalid = -1;

constexpr std::array<int, 256> MakeTable() {
  std::array<int, 256> t{};
  for (int& v : t) v = kInvalid;
  for (size_t i = 0; i < kAlphabet.size(); ++i)
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
  t['='] = kFill;
  return t;
}

constexpr std::array<int, 256> kTable = MakeTable();

}  // namespace

std::string TIdDecoderMIME::DecodeString(std::string_view text) {
  if (text.size() % 4 != 0) throw EIdException("Uneven size in DecodeToStream.");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    for (int k = 0; k < 4; ++k) v[k] = kTable[static_cast<unsigned char>(text[i + k])];
    const bool bad = v[0] == kInvalid || v[1] == kInvalid || v[2] == kInvalid || v[3] == kInvalid ||
                     v[0] == kFill || v[1] == kFill || (v[2] == kFill && v[3] != kFill);
    if (bad) throw EIdException("Invalid character in DecodeToStream.");
    const uint32_t bits = (static_cast<uint32_t>(v[0]) << 18) |
                          (static_cast<uint32_t>(v[1]) << 12) |
                          (static_cast<uint32_t>(v[2] == kFill ? 0 : v[2]) << 6) |
                          static_cast<uint32_t>(v[3] == kFill ? 0 : v[3]);
    out += static_cast<char>(bits >> 16);
    if (v[2] != kFill) out += static_cast<char>((bits >> 8) & 0xFF);
    if (v[3] != kFill) out += static_cast<char>(bits & 0xFF);
  }
  return out;
}

}  // namespace morlak
