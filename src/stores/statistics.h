// Download, page, session and connection counters of the current server run, plus bytes
// and connections per tenth of a day over the last 30 days. Stored as four plain line
// lists (statlist.lst, statagents.lst, statconnections.lst, statbytes.lst).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace morlak {

// One day of the bucket lists: bytes sent and connections accepted.
struct DayTraffic {
  TDateTime day = 0;  // the day's midnight
  int64_t bytes = 0;
  int64_t connections = 0;
};

class Statistics {
 public:
  static constexpr int64_t kBytesPerGiga = 1048576000;  // 1000 x 1048576

  // Bucket lines more than this many days away from now are pruned.
  static constexpr double kBucketDays = 30;

  // The counters start at 0 and every list is empty (CreateStatistics).
  Statistics() = default;
  Statistics(const Statistics&) = delete;
  Statistics& operator=(const Statistics&) = delete;

  // Counters to 0 and the agents list cleared; the bucket lists stay.
  void ResetStatistics();
  // Reads the four files from `folder` in table order. A missing or unreadable file
  // resets the counters and answers false; lists read before it keep what they read.
  // Lines that cannot be read are skipped and described in `skipped` when given.
  bool LoadStatistics(const std::string& folder, std::vector<std::string>* skipped = nullptr);
  // Writes the four files, each replaced atomically; false when one cannot be written.
  bool SaveStatistics(const std::string& folder) const;

  void AddBytesDownloaded(int64_t n);
  void AddPagesDownloaded(int32_t n);
  void AddSessions(int32_t n);
  void AddConnections(int32_t n);

  int64_t GetGigasDownloaded() const;
  int64_t GetBytesDownloaded() const;
  int32_t GetPagesDownloaded() const;
  int32_t GetSessions() const;
  int32_t GetConnections() const;

  // The last `days` days up to today, oldest first, each the sum of its buckets. A bucket
  // counts on the day of its key, so the one key of a bucket that straddles midnight
  // (written as the next day's "x.0") goes to that day; the current bucket always
  // counts today.
  std::vector<DayTraffic> TrafficByDay(TDateTime now, int days) const;

 private:
  struct Bucket {
    std::string key;  // the day number in the "0.0" form, as written
    double day = 0;
    int64_t amount = 0;
  };

  // Lines per tenth of a day, with what is needed to add to them without reading text
  // or walking the list on every call.
  class BucketList {
   public:
    void Add(int64_t amount, TDateTime now);
    void Clear();
    void Load(const std::string& text, const std::string& fileName,
              std::vector<std::string>* skipped);
    std::string Text() const;
    // Adds each line's amount to the day it counts on (see TrafficByDay).
    void SumByDay(std::vector<DayTraffic>& days, TDateTime now, int64_t DayTraffic::*field) const;

   private:
    void PruneIfDue(TDateTime now);
    void RefreshRange();

    std::vector<Bucket> lines_;
    double minDay_ = 0, maxDay_ = 0;  // range of the keys, valid when lines_ is not empty
    int64_t cachedTenth_ = -1;        // the tenth of a day whose line index is cached
    size_t cachedIndex_ = 0;
  };

  void ResetCounters();
  void LoadCounters(const std::string& text, std::vector<std::string>* skipped);
  std::string CountersText() const;

  mutable std::mutex mutex_;
  mutable std::mutex saveMutex_;  // keeps concurrent saves in order without blocking counting
  int64_t gigas_ = 0;
  int64_t bytes_ = 0;
  int32_t pages_ = 0;
  int32_t sessions_ = 0;
  int32_t connections_ = 0;
  int32_t documents_ = 0;  // written and reset, never raised
  std::vector<std::string> agents_;
  BucketList connectionBuckets_;
  BucketList byteBuckets_;
};

}  // namespace morlak
