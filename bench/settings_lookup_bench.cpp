// Cost of the per-request settings lookups (content type, redirect, banned address)
// against the same answers found by sorting the stored list on every call.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"
#include "stores/server_settings.h"

using namespace morlak;

namespace {

std::string SortedScanContentType(const std::string& mimeList, const std::string& ext) {
  std::vector<std::string> rows = TextToList(mimeList);
  std::sort(rows.begin(), rows.end(),
            [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  const std::string lower = LowerCase(ext);
  for (const auto& row : rows) {
    const size_t eq = row.find('=');
    if (eq != std::string::npos && SameText(std::string_view(row).substr(0, eq), lower))
      return row.substr(eq + 1);
  }
  return {};
}

template <typename F>
double NanosecondsPerCall(int calls, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) f(i);
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / calls;
}

}  // namespace

int main() {
  ServerSettings settings;
  settings.InitSettingsDefaults("/tmp/");
  SettingsValues v = settings.Get();
  for (int i = 0; i < 100; ++i) {
    v.redirect += "/old" + std::to_string(i) + ".html=/new" + std::to_string(i) + ".html;";
    v.banned += "10.0.0." + std::to_string(i) + ";";
  }
  settings.Set(v);
  const std::string exts[] = {".html", ".GIF", ".css", ".nope", ".sgml", ".aiff"};
  size_t sink = 0;
  constexpr int kCalls = 1000000;

  const double contentType = NanosecondsPerCall(
      kCalls, [&](int i) { sink += settings.GetContentType(exts[i % 6]).size(); });
  const double redirect = NanosecondsPerCall(
      kCalls, [&](int i) { sink += settings.ResolveRedirect(i % 2 ? "/old7.html" : "/x").size(); });
  const double banned = NanosecondsPerCall(
      kCalls, [&](int i) { sink += settings.IsBannedAddress(i % 2 ? "10.0.0.99" : "10.0.1.1"); });
  const double sortedScan = NanosecondsPerCall(
      kCalls / 100, [&](int i) { sink += SortedScanContentType(v.mimeList, exts[i % 6]).size(); });

  std::printf("GetContentType        %8.1f ns/call\n", contentType);
  std::printf("ResolveRedirect       %8.1f ns/call (100 rows)\n", redirect);
  std::printf("IsBannedAddress       %8.1f ns/call (100 items)\n", banned);
  std::printf("sort-per-call lookup  %8.1f ns/call (reference)\n", sortedScan);
  return sink == 0;  // keeps the work from being optimised away
}
