// What a file sent as its own bytes tells caches about itself (entity tag, modification
// time), and what a request's Range and conditional headers make of its answer: the
// whole file, one byte range of it, 304, 412 or 416.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/header_list.h"

namespace morlak {

// One version of a file, known by its size and modification time.
struct FileVersion {
  int64_t size = 0;
  int64_t modifiedNs = 0;  // since 1970 UTC
  // A file changed within the last second may change again in the same clock tick and
  // keep size and time; until then its tag is weak and its date no proof of sameness.
  bool strong = true;

  static FileVersion Of(int64_t size, int64_t modifiedNs, int64_t nowSeconds);
  int64_t ModifiedSeconds() const;
  // "\"<time>-<size>\"" in hexadecimal, with "W/" before it when not strong, written into
  // the buffer; returns its length.
  static constexpr size_t kETagSize = 48;
  size_t FormatETag(char (&text)[kETagSize]) const;
};

struct FileAnswer {
  int status = 200;    // 200, 206, 304, 412 or 416
  int64_t offset = 0;  // first byte of the body
  int64_t length = 0;  // bytes of the body
  int64_t size = 0;    // of the whole file

  // "bytes <first>-<last>/<size>" for 206, "bytes */<size>" for 416, "" otherwise.
  std::string ContentRange() const;
};

// The answer to a request with these headers. Conditions are read for GET and HEAD
// (If-Match, If-Unmodified-Since, If-None-Match, If-Modified-Since, in that order) and a
// Range for GET only, honoured when If-Range, if any, names this version. Several ranges
// or a Range that cannot be read give the whole file.
FileAnswer ChooseFileAnswer(const TIdHeaderList& headers, std::string_view method,
                            const FileVersion& version, int64_t nowSeconds);

}  // namespace morlak
