// Download counters of files the user chose to watch, known by bare file name (without
// regard to case), stored in httpspecialfiles.lst.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/datetime.h"
#include "platform/text.h"

namespace morlak {

struct TSpecialfiledata {
  std::string filename;
  int32_t count = 0;
  TDateTime lasttime = 0;  // 0 = never
  std::string lastip;
  TDateTime starttime = 0;  // when counting started; 0 = at the next hit
  TDateTime today = 0;      // the whole day counttoday refers to
  int32_t counttoday = 0;
  double avgperday = 0;
};

class MonitoredFiles {
 public:
  static constexpr const char* kFileName = "httpspecialfiles.lst";
  // A count above this in the file is taken as damage, not as a table to allocate.
  static constexpr int32_t kMaxEntries = 100000;

  MonitoredFiles() = default;
  MonitoredFiles(const MonitoredFiles&) = delete;
  MonitoredFiles& operator=(const MonitoredFiles&) = delete;

  void ClearMonitoredFiles();
  // Replaces the table by the file's entries; false (table untouched) without the file.
  bool LoadMonitoredFiles(const std::string& folder);
  // Writes the count and every entry, keeping the file's other lines; false when the
  // file cannot be written.
  bool SaveMonitoredFiles(const std::string& folder) const;

  bool GetMonitoredCount(const std::string& name, int32_t& count) const;
  bool GetMonitoredToday(const std::string& name, int32_t& countToday) const;
  bool GetMonitoredAvgPerDay(const std::string& name, double& avgPerDay) const;

  bool AddMonitoredFile(const std::string& name);
  bool DeleteMonitoredFile(const std::string& name);
  // Counts one download of `name` by `clientAddress`; false when it is not monitored.
  bool CountMonitoredHit(const std::string& name, const std::string& clientAddress);
  // Clears the counters; starttime and avgperday stay.
  bool ResetMonitoredFile(const std::string& name);

  // One display row per entry, in table order: file||count||last time||last address||
  // average (start)||today||
  TStringList ListMonitoredFiles() const;
  // Stable reorder by column 0..5: name and address ascending (byte-wise), the numbers
  // and the last time descending.
  void SortMonitoredFiles(int column);

  // A copy of the table, in table order.
  std::vector<TSpecialfiledata> Entries() const;

 private:
  // Index of the first entry with that name, or -1. Caller holds mutex_.
  int Find(const std::string& name) const;
  void RebuildIndex();

  mutable std::mutex mutex_;
  mutable std::mutex saveMutex_;  // keeps concurrent saves in order without blocking hits
  std::vector<TSpecialfiledata> entries_;
  std::unordered_map<std::string, size_t> index_;  // lower-case name -> first entry
};

}  // namespace morlak
