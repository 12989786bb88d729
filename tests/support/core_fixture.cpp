#include "support/core_fixture.h"

#include <cctype>

#include "platform/text.h"

namespace morlak::test_support {

bool RecordingFrontEnd::Has(const std::string& text) const {
  for (const auto& line : Lines())
    if (line == text) return true;
  return false;
}

bool RecordingFrontEnd::HasPart(const std::string& part) const {
  for (const auto& line : Lines())
    if (line.find(part) != std::string::npos) return true;
  return false;
}

bool RecordingFrontEnd::HasRequestLine(const std::string& host, const std::string& rest) const {
  const std::string start = "HTTP://" + host + "> 127.0.0.1:";
  for (const auto& line : Lines()) {
    if (line.rfind(start, 0) != 0) continue;
    size_t i = start.size();
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
    if (line.compare(i, std::string::npos, rest) == 0) return true;
  }
  return false;
}

CoreFixture::CoreFixture(const std::vector<std::string>& settingsLines) {
  std::string ini = "[settings]\r\n";
  for (const auto& line : settingsLines) ini += ReplaceAll(line, "{data}", data.Path()) + "\r\n";
  // The tests read an answer until the server closes: connections carry one request
  // unless a test switches keep-alive on itself (the first line of a key wins).
  ini += "keepalive=0\r\n";
  data.Write("httpsettings.lst", ini);
  data.MakeFolder("http/public");
}

CoreFixture::~CoreFixture() {
  if (core) core->Shutdown();
}

void CoreFixture::Start() {
  CoreOptions options;
  options.programFolder = data.Path();
  options.httpPort = 0;
  core = std::make_unique<ServerCore>(front, options);
  core->Startup(true);
}

}  // namespace morlak::test_support
