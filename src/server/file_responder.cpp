// Answers a request with one existing file: headers only for HEAD, tag-replaced text
// for pages, and every other file streamed straight from disk.
#include <exception>
#include <memory>

#include "platform/files.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "server/path_and_text_helpers.h"
#include "server/replace_tags.h"
#include "server/request_context.h"
#include "server/server_core.h"

namespace morlak {

namespace {

bool IsPage(const std::string& contentType, const std::string& upperExtension) {
  return contentType.find("text") != std::string::npos || upperExtension == ".HTM" ||
         upperExtension == ".HTML" || upperExtension == ".TXT";
}

// Throws when the file cannot be opened, and for anything but a regular file.
std::unique_ptr<TFileStream> OpenUnlessOpened(std::unique_ptr<TFileStream> opened,
                                              const std::string& path) {
  if (opened) return opened;
  return std::make_unique<TFileStream>(path, TFileStream::Mode::kRead);
}

// Up to the end, even when the file has grown since it was opened.
std::string ReadToEnd(TFileStream& file) {
  std::string content;
  content.reserve(static_cast<size_t>(file.Size()));
  char buffer[65536];
  while (const size_t n = file.Read(buffer, sizeof buffer)) content.append(buffer, n);
  return content;
}

// prefix + what + path + " (<size>b<separator> <content type>)", built in one piece.
std::string FileLine(const std::string& prefix, std::string_view what, const std::string& path,
                     int64_t size, const char* separator, const std::string& contentType) {
  const std::string sizeText = std::to_string(size);
  std::string line;
  line.reserve(prefix.size() + what.size() + path.size() + sizeText.size() + contentType.size() +
               8);
  line.append(prefix).append(what).append(path).append(" (").append(sizeText).append("b");
  line.append(separator).append(" ").append(contentType).append(")");
  return line;
}

}  // namespace

void ServerCore::ServeFile(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                           const std::string& localPath, const std::string& user,
                           const std::string& clientAddress, TIdHTTPResponseInfo& response,
                           std::unique_ptr<TFileStream> opened) {
  RequestContext ctx = RequestContext::Of(thread);
  ctx.host = request.Host;
  ctx.user = user;
  ctx.clientAddress = clientAddress;
  const std::string prefix = ctx.Prefix();
  const std::string extension = ExtractFileExt(localPath);
  const std::string contentType = settings_.GetContentType(extension);
  int64_t size = 0;
  bool failed = false;

  if (SameText(request.RequestMethod, "HEAD")) {
    std::string line;
    try {
      response.CustomHeaders.lines.insert(response.CustomHeaders.lines.begin(),
                                          HttpDateHeaderLine());
      const auto file = OpenUnlessOpened(std::move(opened), localPath);
      response.SetStatusCode(200);
      response.ContentType = contentType;
      response.ContentLength = file->Size();
      size = file->Size();
      line = FileLine(prefix, "> head of ", localPath, size, ",", contentType);
    } catch (const std::exception&) {
      line = FileLine(prefix, "> failed to serve head of ", localPath, size, ",", contentType);
      failed = true;
    }
    LogWindow(line);
    if (failed) AnswerUnservable(thread, request, localPath, user, clientAddress, response);
    return;
  }

  response.ContentType = contentType;
  const bool page = IsPage(contentType, UpperCase(extension));
  if (page) statistics_.AddPagesDownloaded(1);
  const bool replace = page && settings_.GetReplaceData();

  std::string line;
  if (replace) {
    try {
      const std::string content = ReadToEnd(*OpenUnlessOpened(std::move(opened), localPath));
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
      tags.requestPrefix = prefix;
      tags.logWindow = [this](const std::string& text) { LogWindow(text); };
      tags.htmlEscapeClientValues = IsMarkupContentType(contentType);
      tags.pageFolder = IncludeTrailingSeparator(ExtractFileDir(localPath));
      response.SetStatusCode(200);
      response.BodyText = ReplaceTags(JoinLinesCrLf(SplitLines(content)), tags);
      size = static_cast<int64_t>(response.BodyText.size());
      statistics_.AddBytesDownloaded(size);
      line = FileLine(prefix, "> replaced ", localPath, size, ";", contentType);
      ReportMonitoredHit(localPath, clientAddress);
    } catch (const std::exception&) {
      line = FileLine(prefix, "> failed to serve replaced ", localPath, size, ";", contentType);
      failed = true;
    }
  } else {
    try {
      auto file = OpenUnlessOpened(std::move(opened), localPath);
      size = file->Size();
      response.SetStatusCode(200);
      response.ContentLength = size;
      response.BodyStream = std::move(file);
      response.SendHeader();
      response.BodyStream->Seek(0);
      response.SendBody();
      statistics_.AddBytesDownloaded(size);
      line = FileLine(prefix, "> served ", localPath, size, ",", contentType);
      ReportMonitoredHit(localPath, clientAddress);
    } catch (const std::exception&) {
      response.BodyStream.reset();
      line = FileLine(prefix, "> failed to serve ", localPath, size, ",", contentType);
      failed = true;
    }
  }
  if (!settings_.IsExcludedFromLog(localPath)) LogWindowAndFile(line);
  if (failed) AnswerUnservable(thread, request, localPath, user, clientAddress, response);
}

void ServerCore::AnswerUnservable(TIdPeerThread& thread, TIdHTTPRequestInfo& request,
                                  const std::string& localPath, const std::string& user,
                                  const std::string& clientAddress, TIdHTTPResponseInfo& response) {
  // Once the header is out, the short body already tells the client something failed.
  if (response.HeaderSent()) return;
  response.BodyText.clear();
  response.ContentLength = -1;
  response.CustomHeaders.Clear();
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
