// The request and response objects of one HTTP exchange. The engine fills the request
// and writes whatever the handler leaves in the response; a handler that streams calls
// SendHeader and SendBody itself.
// TIdHTTPRequestInfo is the parsed request, TIdHTTPResponseInfo the answer being built.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/cookies.h"
#include "engine/header_list.h"
#include "platform/datetime.h"
#include "platform/stream.h"
#include "platform/text.h"

namespace morlak {

class TIdHTTPSession;
class TIdTCPConnection;

class TIdHTTPRequestInfo {
 public:
  std::string RequestLine;      // as read, without CR LF
  std::string RequestMethod;    // first word, upper-cased
  std::string ProtocolVersion;  // text after the last blank
  std::string PeerAddress;
  TIdHeaderList HeaderLines;  // as received, in order

  std::string Accept, AcceptCharSet, AcceptEncoding, AcceptLanguage, Host, From, Referer, UserAgent;
  std::string Connection, ContentVersion, ContentEncoding, ContentLanguage, ContentType, Pragma;
  int64_t ContentLength = -1;  // -1: absent or not a number
  bool HasContentLength() const { return ContentLength >= 0; }
  int64_t ContentRangeStart = 0, ContentRangeEnd = 0;
  TDateTime Date = 0, LastModified = 0, Expires = 0;

  // Set only when OnCreatePostStream supplied a stream; otherwise the body is FormText.
  std::unique_ptr<TStream> RequestBody;
  std::string FormText;
  std::string QueryText;  // after the first "?" of the target, not decoded
  std::string ParamText;  // FormText and QueryText joined by "&"
  TStringList ParamList;  // one decoded line per parameter
  std::string DocumentPath;
  TIdCookies RequestCookies;
  std::shared_ptr<TIdHTTPSession> Session;
  bool AuthPresent = false;
  std::string AuthUser, AuthPassword;

  // Fills the header fields above from HeaderLines.
  void ProcessHeaders();
  // Splits the target into QueryText, ParamText, ParamList (when parseParams) and
  // DocumentPath; an absolute URI also gives Host when no "Host" header came. A control
  // character in the raw target or the decoded path fails with "Control character in
  // request target.".
  void ProcessTarget(std::string_view target, bool parseParams);
  // Replaces ParamList by the "&"-separated pieces of text, "+" as blank, percent-decoded;
  // pieces past kMaxParams are ignored.
  void DecodeAndSetParams(std::string_view text);
  static constexpr size_t kMaxParams = 10000;
  // Reads a Basic "Authorization" header; another scheme fails with "Unsupported
  // authorization scheme." and bad Base64 with the decoder's message.
  void ProcessAuthorization();
};

// True when the text holds a byte below 32 or DEL.
bool HasControlCharacter(std::string_view text);

// "OK" for 200 and so on; "Unknown Response Code" for codes outside the table.
const char* HTTPStatusText(int code);

class TIdHTTPResponseInfo {
 public:
  explicit TIdHTTPResponseInfo(TIdTCPConnection& connection);
  ~TIdHTTPResponseInfo();
  TIdHTTPResponseInfo(const TIdHTTPResponseInfo&) = delete;
  TIdHTTPResponseInfo& operator=(const TIdHTTPResponseInfo&) = delete;

  int StatusCode() const { return statusCode_; }
  // Also sets StatusText from the table; 404 also closes the connection after the answer.
  void SetStatusCode(int code);
  const std::string& StatusText() const { return statusText_; }
  void SetStatusText(std::string text) { statusText_ = std::move(text); }

  std::string ContentType = "text/html";  // empty: no header
  // -1: derived from the body when the header goes; with no body to derive it from, the
  // connection closes after the answer.
  int64_t ContentLength = -1;
  // Body given as text; it takes precedence over BodyStream.
  std::string BodyText;
  // Body given as a stream, sent from its start and freed after sending. A TFileStream
  // goes out through the transport's file send (the kernel's sendfile on plain sockets).
  std::unique_ptr<TStream> BodyStream;
  // The same for an open file held in the response itself, which costs no allocation; it
  // takes precedence over BodyStream and is closed after sending.
  std::optional<TFileStream> BodyFile;
  // Sends only `length` bytes of the body stream from `offset` (one range of a file),
  // however long the stream has grown meanwhile; ContentLength becomes `length`.
  void SetBodyRange(int64_t offset, int64_t length);
  // BodyText, BodyFile or BodyStream is set.
  bool HasBody() const { return !BodyText.empty() || BodyFile || BodyStream; }

  std::string Connection;  // "close" or "keep-alive"
  bool CloseAfterResponse() const { return closeAfterResponse_; }
  void SetCloseConnection(bool close);

  // A view, as every answer carries the same text: it must outlive the response (the
  // engine points it at its ServerSoftware).
  std::string_view Server = "Vexa/9.0.50";
  std::string Location, CacheControl, Pragma, ContentVersion, ContentEncoding, ContentLanguage;
  TDateTime Date = 0, Expires = 0, LastModified = 0;  // written when above 0
  TIdHeaderList CustomHeaders;  // complete lines, appended to the header block as they are
  // What an answer made of a file's own bytes tells about it, written after the custom
  // lines when set. ETag is kept in the response, up to kMaxETagSize characters (a longer
  // tag fails with "Entity tag too long.").
  std::string AcceptRanges, ContentRange;
  std::string_view ETag() const { return {eTag_, eTagSize_}; }
  void SetETag(std::string_view tag);
  static constexpr size_t kMaxETagSize = 64;
  TIdHeaderList HeaderLines;   // free for a gateway's own header lines; never sent
  TIdCookies ResponseCookies;  // one "Set-Cookie" line each
  std::shared_ptr<TIdHTTPSession> Session;

  bool HeaderSent() const { return headerSent_; }
  // Bytes of the header block, once it is built.
  size_t HeaderSize() const { return headerSize_; }
  // Writes the status line, headers, cookies and blank line in one send; a second call
  // fails with "Header has already been written.".
  void SendHeader();
  // Sends the header when still unsent, then BodyText, else BodyStream, else a small HTML
  // line with the status; then drops both bodies.
  void SendBody();
  void Redirect(const std::string& url);
  // What the engine does after the handler: whatever is still unsent, header and body
  // leaving together where they can.
  void SendRemaining();

 private:
  // Builds the header block into the connection's write buffer, which stays open.
  void StartHeader();
  TStream* Stream() const;
  bool FileBodyFollows() const;
  void DropBody();

  TIdTCPConnection& connection_;
  int statusCode_ = 200;
  std::string statusText_ = "OK";
  bool closeAfterResponse_ = true;
  bool headerSent_ = false;
  size_t headerSize_ = 0;
  int64_t bodyOffset_ = 0;
  int64_t bodyLength_ = -1;  // -1: the whole stream
  char eTag_[kMaxETagSize];
  size_t eTagSize_ = 0;
};

}  // namespace morlak
