// Time of ReplaceTags on a ~10 KB page: without any "||", with "||" operators but no tags,
// and with a set of tags. Run: build/bench/replace_tags_bench [iterations]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/datetime.h"
#include "server/replace_tags.h"

namespace {

using morlak::ReplaceTags;
using morlak::TagContext;

std::string Page(const std::string& filler, const std::string& tags) {
  std::string page = "<html><head><title>Bench</title></head><body>\r\n";
  while (page.size() < 10 * 1024) page += filler;
  const size_t middle = page.size() / 2;
  page.insert(page.rfind("\r\n", middle) + 2, tags);
  return page + "</body></html>\r\n";
}

void Run(const char* name, const std::string& page, const TagContext& ctx, int iterations) {
  size_t sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < iterations; ++i) sink += ReplaceTags(page, ctx).size();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const double ns = std::chrono::duration<double, std::nano>(elapsed).count() / iterations;
  std::printf("%-28s %6zu bytes  %10.0f ns/page  %8.1f MB/s  (out %zu)\n", name, page.size(), ns,
              page.size() / ns * 1e3, sink / iterations);
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::atoi(argv[1]) : 20000;
  morlak::Statistics stats;
  morlak::MonitoredFiles monitored;
  monitored.AddMonitoredFile("setup.exe");
  morlak::TStringList headers;
  headers.Add("Host: localhost");
  headers.Add("User-Agent: bench");

  TagContext ctx;
  ctx.user = "alice";
  ctx.clientAddress = "127.0.0.1";
  ctx.clientPort = "40000";
  ctx.userAgent = "bench <1.0>";
  ctx.requestHeaders = &headers;
  ctx.serverSoftware = "Morlak";
  ctx.serverStartTime = morlak::Now() - 1;
  ctx.statistics = &stats;
  ctx.monitoredFiles = &monitored;
  ctx.htmlEscapeClientValues = true;

  const std::string line =
      "<p>Some text of an ordinary page, with a <a href=\"x.html\">link</a>.</p>\r\n";
  const std::string script = "<script>if (a || b) { c = d || e; }</script>\r\n";
  const std::string tags =
      "<p>||BUILD ||SERVER ||UPTIME ||CONNECTIONS ||CLIENTS ||SESSIONS ||BDOWNLOADED ||TIME "
      "||DATE ||USER ||IP ||PORT ||SECURE ||BDOWNAVG ||AGENT ||REFERER ||ACCEPTLANG "
      "||UNPARSEDPAR ||REQUESTHEAD</p>\r\n<p>||FILESIZE(/etc/hostname) ||FILEDATE(/etc/hostname) "
      "||MONITORCOUNT(setup.exe) ||MONITORTODAY(setup.exe) ||MONITORAVGPERDAY(setup.exe)</p>\r\n";

  Run("no tags, no ||", Page(line, ""), ctx, iterations);
  Run("no tags, || in scripts", Page(line + script, ""), ctx, iterations);
  Run("24 tags", Page(line, tags), ctx, iterations);
  Run("24 tags, || in scripts", Page(line + script, tags), ctx, iterations);
  return 0;
}
