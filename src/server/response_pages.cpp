// The five response pages: a template from the template folder when it exists (served
// like any file, with tags and status 200), else a built-in body with its status.
#include "platform/files.h"
#include "server/path_and_text_helpers.h"
#include "server/server_core.h"

namespace morlak {

struct ServerCore::ResponsePage {
  std::string (ServerSettings::*fileName)() const;
  int status;
  const char* body;
};

void ServerCore::SendResponsePage(const ResponsePage& page, TIdPeerThread& thread,
                                  TIdHTTPRequestInfo& request, const std::string& user,
                                  const std::string& clientAddress, TIdHTTPResponseInfo& response) {
  const std::string path =
      AddTrailingBackslash(settings_.GetTemplateDirectory()) + (settings_.*page.fileName)();
  if (FileExists(path)) {
    ServeFile(thread, request, path, user, clientAddress, response, std::nullopt, true);
    return;
  }
  response.SetStatusCode(page.status);
  response.BodyText = page.body;
}

void ServerCore::SendNotFoundPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                                  const std::string& addr, TIdHTTPResponseInfo& rs) {
  static const ResponsePage page{&ServerSettings::GetFileNotFoundPage, 404, kNotFoundBody};
  SendResponsePage(page, t, rq, user, addr, rs);
}

void ServerCore::SendUnauthorizedPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq,
                                      const std::string& user, const std::string& addr,
                                      TIdHTTPResponseInfo& rs) {
  static const ResponsePage page{&ServerSettings::GetUnauthorizedPage, 403,
                                 "<html><body><b>403</b> Access Denied</body></html>"};
  SendResponsePage(page, t, rq, user, addr, rs);
}

void ServerCore::SendLoginOkPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                                 const std::string& addr, TIdHTTPResponseInfo& rs) {
  static const ResponsePage page{&ServerSettings::GetLoginSuccesfullPage, 200,
                                 "<html><body><b>Login Succesfull</b></body></html>"};
  SendResponsePage(page, t, rq, user, addr, rs);
}

void ServerCore::SendLoginFailedPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq,
                                     const std::string& user, const std::string& addr,
                                     TIdHTTPResponseInfo& rs) {
  static const ResponsePage page{&ServerSettings::GetLoginFailedPage, 200,
                                 "<html><body><b>Login Failed</b></body></html>"};
  SendResponsePage(page, t, rq, user, addr, rs);
}

void ServerCore::SendLogoutOkPage(TIdPeerThread& t, TIdHTTPRequestInfo& rq, const std::string& user,
                                  const std::string& addr, TIdHTTPResponseInfo& rs) {
  static const ResponsePage page{&ServerSettings::GetLogoutSuccesfullPage, 200,
                                 "<html><body><b>Logout Succesfull</b></body></html>"};
  SendResponsePage(page, t, rq, user, addr, rs);
}

}  // namespace morlak
