// Base64 decoding as used for Basic authorization.
#pragma once

#include <string>
#include <string_view>

namespace morlak {

class TIdDecoderMIME {
 public:
  // Throws EIdException "Uneven size in DecodeToStream." when the length is not a multiple
  // of 4, and "Invalid character in DecodeToStream." for a character outside the alphabet
  // or a fill character anywhere but in the last two places of a group.
  static std::string DecodeString(std::string_view text);
};

}  // namespace morlak
