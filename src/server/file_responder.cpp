// Answers a request with one existing file: headers only for HEAD, tag-replaced text
// for pages, and every other file streamed straight from disk.
#include <charconv>
#include <ctime>
#include <exception>
#include <iterator>
#include <optional>

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "server/file_conditions.h"
#include "server/path_and_text_helpers.h"
#include "server/replace_tags.h"
#include "server/request_context.h"
#include "server/server_core.h"

namespace morlak {

namespace {

bool IsPage(std::string_view contentType, std::string_view extension) {
  return contentType.find("text") != std::string_view::npos || SameText(extension, ".htm") ||
         SameText(extension, ".html") || SameText(extension, ".txt");
}

// The caller's file, or the path opened here; throws when the file cannot be opened, and
// for anything but a regular file.
TFileStream OpenUnlessOpened(std::optional<TFileStream>& opened, const std::string& path) {
  if (opened) return std::move(*opened);
  return TFileStream(path, TFileStream::Mode::kRead);
}

// Up to the end, even when the file has grown since it was opened.
std::string ReadToEnd(TFileStream& file) {
  std::string content;
  content.reserve(static_cast<size_t>(file.Size()));
  char buffer[65536];
  while (const size_t n = file.Read(buffer, sizeof buffer)) content.append(buffer, n);
  return content;
}

// prefix + what + path + " (<size>b<separator> <content type>)", and for an answer other
// than 200 its status, as in " 206 Partial Content (bytes 0-99/1000)".
const std::string& FileLine(const RequestContext& ctx, std::string_view what,
                            const std::string& path, int64_t size, const char* separator,
                            std::string_view contentType, const FileAnswer& answer) {
  char sizeText[24];
  const std::string_view sizeView(sizeText,
                                  std::to_chars(sizeText, std::end(sizeText), size).ptr - sizeText);
  if (answer.status == 200)
    return ctx.PrefixedLine({what, path, " (", sizeView, "b", separator, " ", contentType, ")"});
  char statusText[12];
  const std::string_view status(
      statusText, std::to_chars(statusText, std::end(statusText), answer.status).ptr - statusText);
  const std::string contentRange = answer.ContentRange();
  const bool ranged = !contentRange.empty();
  return ctx.PrefixedLine({what, path, " (", sizeView, "b", separator, " ", contentType, ") ",
                           status, " ", HTTPStatusText(answer.status), ranged ? " (" : "",
                           contentRange, ranged ? ")" : ""});
}

// Sets the file's validators on the response and the answer the request's conditions and
// range choose.
FileAnswer AnswerWithValidators(const TIdHTTPRequestInfo& request, const TFileStream& file,
                                TIdHTTPResponseInfo& response) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const FileVersion version = FileVersion::Of(file.Size(), file.ModifiedNs(), now);
  const FileAnswer answer =
      ChooseFileAnswer(request.HeaderLines, request.RequestMethod, version, now);
  response.LastModified = UnixToLocalDateTime(static_cast<std::time_t>(version.ModifiedSeconds()));
  response.AcceptRanges = "bytes";
  char tag[FileVersion::kETagSize];
  response.SetETag(std::string_view(tag, version.FormatETag(tag)));
  if (answer.status == 200) return answer;
  response.SetStatusCode(answer.status);
  response.ContentRange = answer.ContentRange();
  // No length at all for a 304: its header describes the file it stands for.
  response.ContentLength = answer.status == 304 ? -1 : answer.length;
  if (answer.status == 412 || answer.status == 416) response.ContentType.clear();
  return answer;
}

}  // namespace

void ServerCore::ServeFile(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                           const std::string& localPath, const std::string& user,
                           const std::string& clientAddress, TIdHTTPResponseInfo& response,
                           std::optional<TFileStream> opened, bool templatePage) {
  RequestContext ctx = RequestContext::Of(thread);
  ctx.host = request.Host;
  ctx.user = user;
  ctx.clientAddress = clientAddress;
  // One snapshot for the whole answer, its values read in place.
  const std::shared_ptr<const SettingsSnapshot> settings = settings_.Current();
  const std::string_view extension = ExtractFileExtView(localPath);
  const std::string_view contentType = settings->ContentType(extension);
  const bool page = IsPage(contentType, extension);
  const bool replace = page && settings->Values().replaceData;
  // Only the file's own bytes, answering for themselves, can be validated or cut.
  const bool validated = !replace && !templatePage;
  int64_t size = 0;
  bool failed = false;
  FileAnswer answer;

  if (SameText(request.RequestMethod, "HEAD")) {
    try {
      response.CustomHeaders.lines.insert(response.CustomHeaders.lines.begin(),
                                          HttpDateHeaderLine());
      const TFileStream file = OpenUnlessOpened(opened, localPath);
      response.SetStatusCode(200);
      response.ContentType = contentType;
      response.ContentLength = file.Size();
      size = file.Size();
      if (validated) answer = AnswerWithValidators(request, file, response);
    } catch (const std::exception&) {
      failed = true;
    }
    LogWindow(failed ? FileLine(ctx, "> failed to serve head of ", localPath, size, ",",
                                contentType, FileAnswer())
                     : FileLine(ctx, "> head of ", localPath, size, ",", contentType, answer));
    if (failed) AnswerUnservable(thread, request, localPath, user, clientAddress, response);
    return;
  }

  response.ContentType = contentType;
  const char* what = replace ? "> replaced " : "> served ";
  if (replace) {
    statistics_.AddPagesDownloaded(1);
    try {
      TFileStream file = OpenUnlessOpened(opened, localPath);
      const std::string content = ReadToEnd(file);
      TagContext tags;
      tags.user = user;
      tags.clientAddress = clientAddress;
      tags.clientPort = ctx.clientPort;
      tags.secure = ctx.tls ? "true" : "false";
      tags.userAgent = request.UserAgent;
      tags.referer = request.Referer;
      tags.acceptLanguage = request.AcceptLanguage;
      tags.paramText = request.ParamText;
      tags.requestHeaders = &request.HeaderLines;
      tags.serverSoftware = IdHTTPServer1.ServerSoftware;
      tags.buildNumber = BuildNumber;
      tags.clientCount = ClientCount.load();
      tags.serverStartTime = ServerStartTime.load();
      tags.statistics = &statistics_;
      tags.monitoredFiles = &monitored_;
      tags.requestPrefix = ctx.Prefix();
      tags.logWindow = [this](const std::string& text) { LogWindow(text); };
      tags.htmlEscapeClientValues = IsMarkupContentType(contentType);
      tags.pageFolder = IncludeTrailingSeparator(ExtractFileDir(localPath));
      response.SetStatusCode(200);
      response.BodyText = ReplaceTags(JoinLinesCrLf(SplitLines(content)), tags);
      size = static_cast<int64_t>(response.BodyText.size());
      statistics_.AddBytesDownloaded(size);
      ReportMonitoredHit(localPath, clientAddress);
    } catch (const std::exception&) {
      what = "> failed to serve replaced ";
      failed = true;
    }
  } else {
    TIdTCPConnection& connection = thread.Connection();
    const uint64_t sentBefore = connection.BytesSent();
    try {
      TFileStream file = OpenUnlessOpened(opened, localPath);
      size = file.Size();
      response.SetStatusCode(200);
      response.ContentLength = size;
      answer.size = answer.length = size;
      if (validated) answer = AnswerWithValidators(request, file, response);
      // A 304, 412 or 416 has no body; its header goes out with the engine's.
      const bool withBody = answer.status == 200 || answer.status == 206;
      size = withBody ? answer.length : 0;
      if (withBody) {
        // A download starts at the first byte; a later part is a seek in it.
        if (page && answer.offset == 0) statistics_.AddPagesDownloaded(1);
        response.BodyFile.emplace(std::move(file));
        if (answer.status == 206) response.SetBodyRange(answer.offset, answer.length);
        // Header and body leave together where the file is small.
        response.SendBody();
      }
    } catch (const std::exception&) {
      response.BodyFile.reset();
      what = "> failed to serve ";
      failed = true;
    }
    // Begun once the header is out, whatever became of the body.
    const uint64_t sent = connection.BytesSent() - sentBefore;
    if (response.HeaderSent() && sent > 0) {
      statistics_.AddBytesDownloaded(
          static_cast<int64_t>(sent > response.HeaderSize() ? sent - response.HeaderSize() : 0));
      // Counted once begun: a player stops reading whenever it likes.
      if (answer.offset == 0) ReportMonitoredHit(localPath, clientAddress);
    }
  }
  if (!settings->IsExcludedFromLog(localPath))
    LogWindowAndFile(
        FileLine(ctx, what, localPath, size, replace ? ";" : ",", contentType, answer));
  if (failed) AnswerUnservable(thread, request, localPath, user, clientAddress, response);
}

void ServerCore::AnswerUnservable(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                                  const std::string& localPath, const std::string& user,
                                  const std::string& clientAddress, TIdHTTPResponseInfo& response) {
  // Once the header is out, the short body tells the client something failed, and the
  // connection must not carry another answer after it.
  if (response.HeaderSent()) {
    response.SetCloseConnection(true);
    return;
  }
  response.BodyText.clear();
  response.ContentLength = -1;
  response.CustomHeaders.Clear();
  response.AcceptRanges.clear();
  response.SetETag({});
  response.ContentRange.clear();
  // A client must not take a file it cannot have for an empty one: it gets the not-found
  // page, unless that page's template is the file that failed.
  const std::string notFoundTemplate =
      AddTrailingBackslash(settings_.GetTemplateDirectory()) + settings_.GetFileNotFoundPage();
  if (localPath == notFoundTemplate) {
    response.SetStatusCode(404);
    response.ContentType = "text/html";
    response.BodyText = kNotFoundBody;
    return;
  }
  SendNotFoundPage(thread, request, user, clientAddress, response);
}

void ServerCore::ReportMonitoredHit(const std::string& localPath,
                                    const std::string& clientAddress) {
  if (!monitored_.CountMonitoredHit(ExtractFileName(localPath), clientAddress)) return;
  frontEnd_.Synchronize([this] {
    frontEnd_.RefreshMonitoredFileList();
    SaveMonitoredFiles();
  });
}

}  // namespace morlak
