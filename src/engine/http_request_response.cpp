#include "engine/http_request_response.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

#include "engine/base64.h"
#include "engine/engine_errors.h"
#include "engine/http_codings.h"
#include "engine/tcp_connection.h"

namespace morlak {

namespace {

int64_t NumberOrZero(std::string_view text) {
  int64_t v;
  return TryParseInt64(text, v) ? v : 0;
}

// A path with no escape, backslash, parameters, fragment or scheme: splitting and decoding
// give it back unchanged, as nearly every request's path.
bool IsPlainPath(std::string_view path) {
  for (const char c : path)
    if (c == '%' || c == '\\' || c == '=' || c == '#' || c == ':') return false;
  return true;
}

// Most requests carry none of the date headers: no parse for an absent one.
TDateTime DateOrZero(const std::string& text) {
  return text.empty() ? 0 : InternetStrToDateTime(text);
}

bool IsPlainInteger(std::string_view text) {
  if (text.empty()) return false;
  size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// Above this a body given as text leaves in its own send instead of being copied into the
// header's buffer.
constexpr size_t kBodyJoinLimit = 16384;
// A built page larger than this leaves from a temporary file, so a client that reads slowly
// or not at all holds no copy of it in memory while the send waits.
constexpr size_t kBodyTextSpillLimit = 1 << 20;

// Room of a header field besides its value: the longest name, ": " and the line break.
constexpr size_t kFieldRoom = 24;
// Room of the status line besides its text.
constexpr size_t kStatusLineRoom = 24;

// Writes a header block into room counted beforehand, with no check of its own.
class HeaderWriter {
 public:
  explicit HeaderWriter(char* at) : at_(at) {}
  char* End() const { return at_; }
  void Put(std::string_view text) {
    std::memcpy(at_, text.data(), text.size());
    at_ += text.size();
  }
  // "Name: value" and its line break; nothing for an empty value.
  void Field(std::string_view name, std::string_view value) {
    if (value.empty()) return;
    Put(name);
    Put(": ");
    Put(value);
    Put("\r\n");
  }

 private:
  char* at_;
};

// The text in a nameless temporary file; nullptr when none can be written (the text is
// then sent from memory).
std::unique_ptr<TFileStream> SpillToFile(const std::string& text) {
  auto file = TFileStream::CreateTemporary();
  if (!file) return nullptr;
  try {
    file->Write(text.data(), text.size());
  } catch (const EStreamError&) {
    return nullptr;
  }
  return file;
}

constexpr char kInvalidTarget[] = "Control character in request target.";

}  // namespace

void TIdHTTPRequestInfo::ProcessHeaders() {
  std::string contentLength, range, date, lastModified, expires;
  const struct {
    std::string_view name;
    std::string* field;
  } fields[] = {
      {"Accept", &Accept},
      {"Accept-Charset", &AcceptCharSet},
      {"Accept-Encoding", &AcceptEncoding},
      {"Accept-Language", &AcceptLanguage},
      {"Host", &Host},
      {"From", &From},
      {"Referer", &Referer},
      {"User-Agent", &UserAgent},
      {"Connection", &Connection},
      {"Content-Version", &ContentVersion},
      {"Content-Encoding", &ContentEncoding},
      {"Content-Language", &ContentLanguage},
      {"Content-Type", &ContentType},
      {"Pragma", &Pragma},
      {"Content-Length", &contentLength},
      {"Range", &range},
      {"Date", &date},
      {"Last-Modified", &lastModified},
      {"Expires", &expires},
  };
  // One pass over the lines instead of a search per field; the first line of a name wins,
  // as with Value.
  const TIdHeaderList& h = HeaderLines;
  uint32_t taken = 0;
  for (size_t i = 0; i < h.lines.size(); ++i) {
    const std::string_view name = h.NameOf(i);
    for (size_t f = 0; f < std::size(fields); ++f) {
      if ((taken >> f & 1) || fields[f].name.size() != name.size() ||
          !SameText(fields[f].name, name))
        continue;
      *fields[f].field = h.ValueAt(i);
      taken |= uint32_t{1} << f;
      break;
    }
  }

  if (!TryParseInt64(Trim(contentLength), ContentLength)) ContentLength = -1;

  if (!range.empty()) {
    const size_t eq = range.find('=');
    const std::string_view bounds =
        eq == std::string::npos ? std::string_view(range) : std::string_view(range).substr(eq + 1);
    const size_t dash = bounds.find('-');
    ContentRangeStart = NumberOrZero(bounds.substr(0, dash));
    if (dash != std::string_view::npos) {
      const std::string_view end = bounds.substr(dash + 1);
      ContentRangeEnd = NumberOrZero(end.substr(0, end.find(' ')));
    }
  }

  Date = DateOrZero(date);
  LastModified = DateOrZero(lastModified);
  if (IsPlainInteger(expires)) {
    int64_t seconds;
    Expires = TryParseInt64(expires, seconds) ? Now() + static_cast<double>(seconds) / 86400.0 : 0;
  } else {
    Expires = DateOrZero(expires);
  }
}

void TIdHTTPRequestInfo::DecodeAndSetParams(std::string_view text) {
  ParamList.Clear();
  if (text.empty()) return;
  std::string spaced;
  size_t start = 0;
  for (;;) {
    const size_t amp = text.find('&', start);
    std::string_view piece = text.substr(start, amp == std::string_view::npos ? amp : amp - start);
    if (piece.find('+') != std::string_view::npos) {
      spaced.assign(piece);
      for (char& c : spaced)
        if (c == '+') c = ' ';
      piece = spaced;
    }
    // Every line costs far more than a short piece's text; past the limit a body of tiny
    // pieces would cost many times its own size.
    if (ParamList.Count() >= kMaxParams) break;
    ParamList.Add(PercentDecode(piece));
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
}

bool HasControlCharacter(std::string_view text) {
  // Without an early exit, and with a byte to gather into, the loop is vectorised sixteen
  // bytes at a time: every target and log line passes here.
  uint8_t found = 0;
  for (const char c : text) {
    const uint8_t byte = static_cast<uint8_t>(c);
    found |= static_cast<uint8_t>((byte < 0x20) | (byte == 0x7f));
  }
  return found != 0;
}

void TIdHTTPRequestInfo::ProcessTarget(std::string_view target, bool parseParams) {
  // What the file system opens must be what every check and log line sees: a NUL or line
  // break in the target would split the two.
  if (HasControlCharacter(target)) throw EIdException(kInvalidTarget);
  const size_t q = target.find('?');
  if (q != std::string_view::npos) {
    QueryText.assign(target.substr(q + 1));
    target = target.substr(0, q);
  }
  // Built in one piece: a large form body must not be copied twice.
  const bool joined = !FormText.empty() && !QueryText.empty();
  ParamText.clear();
  ParamText.shrink_to_fit();
  ParamText.reserve(FormText.size() + joined + QueryText.size());
  ParamText += FormText;
  if (joined) ParamText += '&';
  ParamText += QueryText;
  if (parseParams) {
    if (LowerCase(ContentType) == "application/x-www-form-urlencoded")
      DecodeAndSetParams(ParamText);
    else
      DecodeAndSetParams(QueryText);
  }
  if (target == "*" || IsPlainPath(target)) {
    DocumentPath.assign(target);
    return;
  }
  const TIdTargetParts parts = SplitTarget(target);
  DocumentPath = PercentDecode(parts.Path);
  DocumentPath += PercentDecode(parts.Document);
  DocumentPath += parts.Params;
  if (HasControlCharacter(DocumentPath)) throw EIdException(kInvalidTarget);
  if (!parts.Protocol.empty() && HeaderLines.IndexOfName("Host") < 0) Host = parts.Host;
}

void TIdHTTPRequestInfo::ProcessAuthorization() {
  const std::string auth = HeaderLines.Value("Authorization");
  if (auth.empty()) return;
  AuthPresent = true;
  const size_t blank = auth.find(' ');
  if (!SameText(std::string_view(auth).substr(0, blank), "Basic"))
    throw EIdException("Unsupported authorization scheme.");
  const std::string credentials = TIdDecoderMIME::DecodeString(
      blank == std::string::npos ? std::string() : Trim(std::string_view(auth).substr(blank + 1)));
  const size_t colon = credentials.find(':');
  AuthUser = credentials.substr(0, colon);
  if (colon != std::string::npos) AuthPassword = credentials.substr(colon + 1);
}

const char* HTTPStatusText(int code) {
  switch (code) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-authoritative Information";
    case 204:
      return "No Content";
    case 205:
      return "Reset Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Moved Temporarily";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 305:
      return "Use Proxy";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method not allowed";
    case 406:
      return "Not Acceptable";
    case 407:
      return "Proxy Authentication Required";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Request Entity To Long";
    case 414:
      return "Request-URI Too Long. 256 Chars max";
    case 415:
      return "Unsupported Media Type";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway timeout";
    case 505:
      return "HTTP version not supported";
    default:
      return "Unknown Response Code";
  }
}

namespace {

// The emptied cookie list of the thread's last response, so that a new session's cookie
// costs no list. A list grown past a few cookies is not kept.
thread_local std::vector<TIdCookieRFC2109> t_spareCookies;
constexpr size_t kSpareCookiesKept = 4;

}  // namespace

TIdHTTPResponseInfo::TIdHTTPResponseInfo(TIdTCPConnection& connection) : connection_(connection) {
  HeaderLines.FoldLines = false;
  ResponseCookies.items.swap(t_spareCookies);
}

TIdHTTPResponseInfo::~TIdHTTPResponseInfo() {
  std::vector<TIdCookieRFC2109>& cookies = ResponseCookies.items;
  if (cookies.capacity() > t_spareCookies.capacity() && cookies.capacity() <= kSpareCookiesKept) {
    cookies.clear();
    cookies.swap(t_spareCookies);
  }
}

void TIdHTTPResponseInfo::SetETag(std::string_view tag) {
  if (tag.size() > kMaxETagSize) throw EIdException("Entity tag too long.");
  std::copy(tag.begin(), tag.end(), eTag_);
  eTagSize_ = tag.size();
}

void TIdHTTPResponseInfo::SetStatusCode(int code) {
  statusCode_ = code;
  statusText_ = HTTPStatusText(code);
  if (code == 404) SetCloseConnection(true);
}

void TIdHTTPResponseInfo::SetCloseConnection(bool close) {
  closeAfterResponse_ = close;
  Connection = close ? "close" : "keep-alive";
}

void TIdHTTPResponseInfo::Redirect(const std::string& url) {
  SetStatusCode(302);
  Location = url;
}

void TIdHTTPResponseInfo::StartHeader() {
  if (headerSent_) throw EIdException("Header has already been written.");
  headerSent_ = true;
  if (ContentLength == -1) {
    if (!BodyText.empty())
      ContentLength = static_cast<int64_t>(BodyText.size());
    else if (const TStream* stream = Stream())
      ContentLength = stream->Size();
  }
  // Without a length only the close tells the client where the body ends.
  if (ContentLength < 0 && statusCode_ != 204 && statusCode_ != 304) SetCloseConnection(true);
  char lengthText[24];
  const std::string_view length(
      lengthText,
      ContentLength >= 0
          ? static_cast<size_t>(std::to_chars(lengthText, std::end(lengthText), ContentLength).ptr -
                                lengthText)
          : 0);
  char lastModifiedText[kGmtDateSize];
  const std::string_view lastModified(
      lastModifiedText, LastModified > 0 ? FormatDateTimeGmt(LastModified, lastModifiedText) : 0);
  const std::string date = Date > 0 ? DateTimeToInternetStr(Date) : std::string();
  const std::string expires = Expires > 0 ? DateTimeToInternetStr(Expires) : std::string();
  const std::string_view eTag = ETag();

  // Every field and line is counted, so the block is written with no check for room.
  size_t room = kStatusLineRoom + statusText_.size();
  for (const std::string_view value :
       {std::string_view(Connection), std::string_view(ContentVersion),
        std::string_view(ContentEncoding), std::string_view(ContentLanguage),
        std::string_view(ContentType), length, std::string_view(CacheControl),
        std::string_view(date), std::string_view(expires), lastModified, std::string_view(Pragma),
        std::string_view(AcceptRanges), eTag, std::string_view(ContentRange), Server,
        std::string_view(Location)})
    room += kFieldRoom + value.size();
  for (const std::string& line : CustomHeaders.lines) room += line.size() + 2;
  // The cookies and a text body that joins the block in the same send need room too.
  size_t size = room + 2 + ResponseCookies.Count() * 160;
  if (BodyText.size() <= kBodyJoinLimit) size += BodyText.size();
  connection_.BeginBatch(-1, size);
  // The batch has no threshold: the block is built straight into its buffer.
  std::string& out = connection_.BatchBuffer();
  const size_t start = out.size();
  out.resize(start + room);
  HeaderWriter w(out.data() + start);
  char codeText[12];
  w.Put("HTTP/1.1 ");
  w.Put({codeText, static_cast<size_t>(
                       std::to_chars(codeText, std::end(codeText), statusCode_).ptr - codeText)});
  w.Put(" ");
  w.Put(statusText_);
  w.Put("\r\n");
  w.Field("Connection", Connection);
  w.Field("Content-Version", ContentVersion);
  w.Field("Content-Encoding", ContentEncoding);
  w.Field("Content-Language", ContentLanguage);
  w.Field("Content-Type", ContentType);
  w.Field("Content-Length", length);
  w.Field("Cache-control", CacheControl);
  w.Field("Date", date);
  w.Field("Expires", expires);
  w.Field("Last-Modified", lastModified);
  w.Field("Pragma", Pragma);
  // Custom lines meet the fields of their names as if each field were then set by name:
  // "Server" and "Location" take the place of the first custom line of their name, which
  // goes when the field is empty; the first custom "Content-Type", "Content-Length" or
  // "Last-Modified" line goes when its field is empty (the field's own line was found
  // first otherwise); a file's headers, when set, take the place of the first custom line
  // of their name or follow the custom lines.
  bool serverDone = false, locationDone = false, rangesDone = false, tagDone = false,
       rangeDone = false, typeSeen = false, lengthSeen = false, modifiedSeen = false;
  auto firstOf = [](const std::string& line, std::string_view name, bool& seen) {
    if (seen || line.size() <= name.size() || line[name.size()] != ':' ||
        !SameText(std::string_view(line).substr(0, name.size()), name))
      return false;
    return seen = true;
  };
  for (const std::string& line : CustomHeaders.lines) {
    if (firstOf(line, "Server", serverDone)) {
      w.Field("Server", Server);
    } else if (firstOf(line, "Location", locationDone)) {
      w.Field("Location", Location);
    } else if (!AcceptRanges.empty() && firstOf(line, "Accept-Ranges", rangesDone)) {
      w.Field("Accept-Ranges", AcceptRanges);
    } else if (!eTag.empty() && firstOf(line, "ETag", tagDone)) {
      w.Field("ETag", eTag);
    } else if (!ContentRange.empty() && firstOf(line, "Content-Range", rangeDone)) {
      w.Field("Content-Range", ContentRange);
    } else if (!(firstOf(line, "Content-Type", typeSeen) && ContentType.empty()) &&
               !(firstOf(line, "Content-Length", lengthSeen) && length.empty()) &&
               !(firstOf(line, "Last-Modified", modifiedSeen) && lastModified.empty())) {
      w.Put(line);
      w.Put("\r\n");
    }
  }
  if (!rangesDone) w.Field("Accept-Ranges", AcceptRanges);
  if (!tagDone) w.Field("ETag", eTag);
  if (!rangeDone) w.Field("Content-Range", ContentRange);
  if (!serverDone) w.Field("Server", Server);
  if (!locationDone) w.Field("Location", Location);
  out.resize(static_cast<size_t>(w.End() - out.data()));
  for (const TIdCookieRFC2109& cookie : ResponseCookies.items) {
    out.append("Set-Cookie: ");
    cookie.AppendCookieText(out);
    out.append("\r\n");
  }
  out.append("\r\n");
  headerSize_ = out.size();
}

void TIdHTTPResponseInfo::SetBodyRange(int64_t offset, int64_t length) {
  bodyOffset_ = offset;
  bodyLength_ = length;
  ContentLength = length;
}

TStream* TIdHTTPResponseInfo::Stream() const {
  return BodyFile ? const_cast<TFileStream*>(&*BodyFile) : BodyStream.get();
}

bool TIdHTTPResponseInfo::FileBodyFollows() const {
  const TStream* stream = Stream();
  return BodyText.empty() && dynamic_cast<const TFileStream*>(stream) != nullptr &&
         (bodyLength_ < 0 ? stream->Size() > 0 : bodyLength_ > 0);
}

void TIdHTTPResponseInfo::DropBody() {
  BodyText.clear();
  BodyFile.reset();
  BodyStream.reset();
  bodyLength_ = -1;
}

void TIdHTTPResponseInfo::SendHeader() {
  StartHeader();
  connection_.EndBatch(FileBodyFollows());
}

void TIdHTTPResponseInfo::SendBody() {
  if (!headerSent_) StartHeader();
  try {
    if (BodyText.size() > kBodyTextSpillLimit) {
      if (auto file = SpillToFile(BodyText)) {
        std::string().swap(BodyText);
        BodyFile = std::move(*file);
      }
    }
    if (!BodyText.empty()) {
      if (connection_.Batching() && BodyText.size() > kBodyJoinLimit) connection_.EndBatch(true);
      connection_.WriteText(BodyText);
    } else if (TStream* stream = Stream()) {
      if (bodyLength_ < 0) {
        connection_.WriteFromStream(*stream);
      } else if (bodyLength_ > 0) {
        stream->Seek(bodyOffset_);
        connection_.WriteFromStream(*stream, false, bodyLength_);
      }
    } else {
      connection_.WriteLine("<HTML><BODY><B>" + std::to_string(statusCode_) + " " + statusText_ +
                            "</B></BODY></HTML>");
    }
    // A connection that closes after this answer writes nothing after it.
    if (connection_.Batching()) connection_.EndBatch(false, closeAfterResponse_);
  } catch (...) {
    if (connection_.Batching()) {
      try {
        connection_.EndBatch();
      } catch (...) {
        // The first failure is the one worth reporting.
      }
    }
    DropBody();
    throw;
  }
  DropBody();
}

void TIdHTTPResponseInfo::SendRemaining() {
  if (HasBody())
    SendBody();
  else if (!headerSent_)
    SendHeader();
}

}  // namespace morlak
