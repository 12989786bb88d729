// The running figures as pages and the main window show them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/datetime.h"

namespace morlak {

// Hours from `start` to now, a fraction; from day 0 of the scale when start is 0.
double HoursSince(TDateTime start);

// "0b", "128.00k", "5.00M", with " (2G)" appended when gigas are above 0.
std::string FormatBytesDownloaded(int64_t bytes, int64_t gigas);

// Bytes per hour over `hours`: "12.5b/h", "128.0k/h", "1.0M/h" (k/h below 524880).
// No time passed yet counts as no rate, never a division by zero.
std::string FormatDownloadRate(int64_t bytes, double hours);

}  // namespace morlak
