// The content-type table the server starts with: 135 rows of extension "=" type.
#pragma once

#include <array>
#include <string_view>

namespace morlak {

extern const std::array<std::string_view, 135> kBuiltInMimeRows;

}  // namespace morlak
