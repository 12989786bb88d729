// The real executable in console mode: start-up lines, serving the default site to
// curl, and a clean stop on SIGTERM that saves the data files.
#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "support/temp_folder.h"

namespace morlak::test_support {
namespace {

const std::string kBinaryDir = MORLAK_BINARY_DIR;

class ConsoleProcess {
 public:
  // `asOrdinaryUser`: a test run by root starts the program as "nobody".
  explicit ConsoleProcess(const std::vector<std::string>& args, bool asOrdinaryUser = false) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      constexpr uid_t kNobody = 65534;
      if (asOrdinaryUser && ::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(126);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      const std::string program = kBinaryDir + "/morlak";
      argv.push_back(const_cast<char*>(program.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = out[0];
  }

  ~ConsoleProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
  }

  // Reads output lines until one matches; returns that line, or "" when the output
  // ends or 20 s pass.
  std::string WaitForLine(const std::regex& pattern) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      size_t eol;
      while ((eol = pending_.find('\n')) != std::string::npos) {
        const std::string line = pending_.substr(0, eol);
        pending_.erase(0, eol + 1);
        lines_ += line + "\n";
        if (std::regex_search(line, pattern)) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{output_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char buf[4096];
      const ssize_t n = ::read(output_, buf, sizeof buf);
      if (n <= 0) return "";
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

  // Sends the signal and returns the exit status (or -1), reading the rest of the output.
  int Stop(int signal) {
    ::kill(pid_, signal);
    WaitForLine(std::regex("$^"));
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& Output() const { return lines_; }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  int output_ = -1;
  std::string pending_;
  std::string lines_;
};

std::string Output(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

std::string Curl(int port, const std::string& path) {
  return Output("curl -s --max-time 10 http://127.0.0.1:" + std::to_string(port) + path);
}

TEST(ConsoleFrontEnd, ServesTheDefaultSiteAndSavesOnSigterm) {
  TempFolder data;
  std::filesystem::copy(kBinaryDir + "/http", data.Path() + "http",
                        std::filesystem::copy_options::recursive);
  // The listing must show this copy's files folder, not the build folder's.
  data.Write("http/public/files/only-in-this-copy.txt", "x");
  ConsoleProcess morlak({"--headless", "--data-dir", data.Path(), "--http-port", "0"});

  EXPECT_NE(morlak.WaitForLine(std::regex("- Running from \\[" + data.Path() + "\\]$")), "");
  const std::string started = morlak.WaitForLine(std::regex("- HTTP server started \\(port="));
  std::smatch port;
  ASSERT_TRUE(std::regex_search(started, port, std::regex("port=(\\d+)\\)")));
  const int portNumber = std::stoi(port[1]);
  EXPECT_GT(portNumber, 0);

  const std::string page = Curl(portNumber, "/");
  EXPECT_NE(page.find("It works"), std::string::npos);
  EXPECT_EQ(page.find("||SERVER"), std::string::npos) << "tags are replaced";
  EXPECT_NE(page.find("readme.txt"), std::string::npos) << "the listing shows the files folder";
  EXPECT_NE(page.find("only-in-this-copy.txt"), std::string::npos) << page;
  EXPECT_NE(morlak.WaitForLine(std::regex("> replaced .*index\\.html")), "");
  // The site's CGI program and PHP page, linked from the welcome page.
  EXPECT_NE(page.find("/cgi-bin/info?name=value"), std::string::npos);
  EXPECT_NE(Curl(portNumber, "/cgi-bin/info?name=value").find("\nQUERY_STRING=name=value\n"),
            std::string::npos);
  EXPECT_NE(Curl(portNumber, "/info.php").find("1 + 1 = 2"), std::string::npos);

  EXPECT_EQ(morlak.Stop(SIGTERM), 0);
  EXPECT_NE(morlak.Output().find("- HTTP server stopped"), std::string::npos);
  EXPECT_TRUE(FileExists(data.Path() + "statlist.lst"));
  EXPECT_TRUE(FileExists(data.Path() + "httpmembers.lst"));
  // The port option is for this run only.
  EXPECT_EQ(IniFile(data.Path() + "httpsettings.lst").ReadInteger("settings", "httpport", -1), 80);
}

TEST(ConsoleFrontEnd, MadeCertificateServesHttpsToCurlAndIsNotReplacedUnasked) {
  TempFolder data;
  data.Write("http/public/index.html", "over tls");
  ConsoleProcess make({"--make-certificate", "--data-dir", data.Path()});
  EXPECT_EQ(make.Stop(0), 0);
  const std::string cert = data.Read("httpscert.pem");
  ASSERT_NE(cert.find("BEGIN CERTIFICATE"), std::string::npos);
  EXPECT_NE(data.Read("httpskey.pem").find("BEGIN ENCRYPTED PRIVATE KEY"), std::string::npos);
  ConsoleProcess again({"--make-certificate", "--data-dir", data.Path()});
  EXPECT_EQ(again.Stop(0), 1);
  EXPECT_EQ(data.Read("httpscert.pem"), cert);

  IniFile settings(data.Path() + "httpsettings.lst");
  EXPECT_EQ(settings.ReadString("settings", "certcert", ""), data.Path() + "httpscert.pem");
  settings.WriteString("settings", "certhttps", "1");
  ASSERT_TRUE(settings.Save());
  ConsoleProcess morlak(
      {"--headless", "--data-dir", data.Path(), "--http-port", "0", "--https-port", "0"});
  const std::string started = morlak.WaitForLine(std::regex("- HTTPS server started \\(port="));
  std::smatch port;
  ASSERT_TRUE(std::regex_search(started, port, std::regex("port=(\\d+)\\)")));
  const std::string url = "https://localhost:" + std::string(port[1]) + "/index.html";
  const std::string page =
      Output("curl -s --max-time 10 --resolve localhost:" + std::string(port[1]) +
             ":127.0.0.1 --cacert '" + data.Path() + "httpscert.pem' " + url);
  EXPECT_EQ(page.rfind("over tls", 0), 0u) << page;
  EXPECT_EQ(morlak.Stop(SIGTERM), 0);
}

TEST(ConsoleFrontEnd, RefusedListenerPortIsExplainedAndAFreshFolderOfAUserTakes8080) {
  // A port another socket holds: the reason follows the failure line.
  const int busy = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(busy, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(busy, 1), 0);
  ::getsockname(busy, reinterpret_cast<sockaddr*>(&address), &length);
  TempFolder data;
  ConsoleProcess held({"--headless", "--data-dir", data.Path(), "--http-port",
                       std::to_string(ntohs(address.sin_port))});
  EXPECT_NE(held.WaitForLine(std::regex("- Failed to start HTTP server$")), "");
  EXPECT_NE(held.WaitForLine(std::regex(
                "^[^>]* - Could not bind socket\\. Address and port are already in use\\.$")),
            "");
  ::close(busy);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // start-up ends
  EXPECT_EQ(held.Stop(SIGTERM), 0);

  // Port 80 refused for rights: the reason, and how to choose another port or grant them.
  int firstFreePort = 1024;
  std::ifstream("/proc/sys/net/ipv4/ip_unprivileged_port_start") >> firstFreePort;
  if (firstFreePort <= 80) GTEST_SKIP() << "any user may listen on port 80 here";
  TempFolder fresh;
  std::filesystem::permissions(fresh.Path(), std::filesystem::perms::all);
  ConsoleProcess user({"--headless", "--data-dir", fresh.Path(), "--http-port", "80"}, true);
  EXPECT_NE(user.WaitForLine(std::regex("this new program folder uses port 8080 for HTTP")), "");
  EXPECT_NE(user.WaitForLine(std::regex("- Failed to start HTTP server$")), "");
  EXPECT_NE(user.WaitForLine(std::regex("- Socket Error # 10013 Access denied\\.$")), "");
  const std::string advice = user.WaitForLine(std::regex("- Port 80 needs administrator rights"));
  EXPECT_NE(advice.find("port above 1023 (Settings, General, \"Default port (80):\""), advice.npos);
  EXPECT_NE(advice.find("sudo setcap cap_net_bind_service=+ep '" + kBinaryDir + "/morlak'"),
            advice.npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(user.Stop(SIGTERM), 0);
  EXPECT_EQ(IniFile(fresh.Path() + "httpsettings.lst").ReadInteger("settings", "httpport", -1),
            8080);
}

TEST(ConsoleFrontEnd, HelpExplainsTheOptions) {
  ConsoleProcess help({"--help"});
  help.WaitForLine(std::regex("$^"));
  EXPECT_NE(help.Output().find("--data-dir DIR"), std::string::npos);
  EXPECT_NE(help.Output().find("--http-port N"), std::string::npos);
  EXPECT_EQ(help.Stop(0), 0);
}

TEST(ConsoleFrontEnd, NamedPipesInPlaceOfDataFilesNeitherBlockStartUpNorStop) {
  TempFolder data;
  for (const char* name : {"httpsettings.lst", "httpmimelist.lst", "httpmembers.lst",
                           "httprootaliases.lst", "statlist.lst"})
    ASSERT_EQ(::mkfifo(data.File(name).c_str(), 0644), 0) << name;
  ConsoleProcess morlak({"--headless", "--data-dir", data.Path(), "--http-port", "0"});
  EXPECT_NE(morlak.WaitForLine(std::regex("^.*- failed to load HTTP member file$")), "");
  EXPECT_NE(morlak.WaitForLine(std::regex("- HTTP server started \\(port=")), "");
  // Start-up ends just after that line; a signal before its end would end the process at
  // once with 128 + 15 instead of the orderly stop.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(morlak.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace morlak::test_support
