#include "server/figures.h"

namespace morlak {

double HoursSince(TDateTime start) {
  return (Now() - start) * 24;
}

std::string FormatBytesDownloaded(int64_t bytes, int64_t gigas) {
  std::string text;
  if (bytes < 131072)
    text = std::to_string(bytes) + "b";
  else if (bytes < 5242880)
    text = FormatFixed(static_cast<double>(bytes) / 1024, 2) + "k";
  else
    text = FormatFixed(static_cast<double>(bytes) / 1048576, 2) + "M";
  if (gigas > 0) text += " (" + std::to_string(gigas) + "G)";
  return text;
}

std::string FormatDownloadRate(int64_t bytes, double hours) {
  const double rate = hours > 0 ? static_cast<double>(bytes) / hours : 0;
  if (rate < 131072) return FormatFixed(rate, 1) + "b/h";
  if (rate < 524880) return FormatFixed(rate / 1024, 1) + "k/h";
  return FormatFixed(rate / 1048576, 1) + "M/h";
}

}  // namespace morlak
