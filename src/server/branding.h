// The optional branding container "custom.config" in the program folder: entry
// "data.0" holds name=value lines naming the company, the author, the home page and the
// program's title; entry "data.1" a picture for the About page.
#pragma once

#include <functional>
#include <string>

namespace morlak {

struct Branding {
  bool present = false;  // the container exists
  bool hasText = false;  // it holds "data.0"
  std::string homepage, company, author, ftpserver;
  std::string picture;  // the bytes of "data.1", empty when absent
};

// Reads folder + "custom.config"; problems with the container go to `onMessage`.
Branding ReadBranding(const std::string& folder,
                      const std::function<void(const std::string&)>& onMessage);

}  // namespace morlak
