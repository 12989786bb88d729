#include "stores/statistics.h"

#include <algorithm>
#include <cmath>

#include "platform/files.h"
#include "platform/text.h"

namespace morlak {

namespace {

constexpr const char* kCountersFile = "statlist.lst";
constexpr const char* kAgentsFile = "statagents.lst";
constexpr const char* kConnectionsFile = "statconnections.lst";
constexpr const char* kBytesFile = "statbytes.lst";

int32_t AddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

void NoteSkipped(std::vector<std::string>* skipped, const std::string& fileName,
                 const std::string& line) {
  if (skipped) skipped->push_back(fileName + ": ignored line \"" + line + "\"");
}

}  // namespace

// ---- bucket lists

void Statistics::BucketList::Add(int64_t amount, TDateTime now) {
  PruneIfDue(now);
  const int64_t tenth = static_cast<int64_t>(std::round(now * 10));
  if (tenth != cachedTenth_) {
    const std::string key = FormatFixed(static_cast<double>(tenth) / 10, 1);
    cachedIndex_ = lines_.size();
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].key == key) {
        cachedIndex_ = i;
        break;
      }
    }
    if (cachedIndex_ == lines_.size()) {
      const double day = static_cast<double>(tenth) / 10;
      lines_.push_back(Bucket{key, day, 0});
      minDay_ = lines_.size() == 1 ? day : std::min(minDay_, day);
      maxDay_ = lines_.size() == 1 ? day : std::max(maxDay_, day);
    }
    cachedTenth_ = tenth;
  }
  lines_[cachedIndex_].amount += amount;
}

// Deletes every line more than kBucketDays away from now. The key range tells whether any
// line is due, so the list is walked only when something will go.
void Statistics::BucketList::PruneIfDue(TDateTime now) {
  if (lines_.empty() || (now - minDay_ <= kBucketDays && maxDay_ - now <= kBucketDays)) return;
  std::erase_if(lines_, [now](const Bucket& b) { return std::fabs(b.day - now) > kBucketDays; });
  RefreshRange();
  cachedTenth_ = -1;
}

void Statistics::BucketList::RefreshRange() {
  if (lines_.empty()) return;
  minDay_ = maxDay_ = lines_.front().day;
  for (const Bucket& b : lines_) {
    minDay_ = std::min(minDay_, b.day);
    maxDay_ = std::max(maxDay_, b.day);
  }
}

void Statistics::BucketList::Clear() {
  lines_.clear();
  cachedTenth_ = -1;
}

void Statistics::BucketList::Load(const std::string& text, const std::string& fileName,
                                  std::vector<std::string>* skipped) {
  for (const std::string& line : SplitDataLines(text)) {
    if (line.empty()) continue;
    Bucket b;
    b.key = NameOfLine(line);
    if (line.find('=') == std::string::npos || !TryParseFloat(b.key, b.day) ||
        !TryParseInt64(ValueOfLine(line), b.amount)) {
      NoteSkipped(skipped, fileName, line);
      continue;
    }
    lines_.push_back(std::move(b));
  }
  RefreshRange();
  cachedTenth_ = -1;
}

std::string Statistics::BucketList::Text() const {
  std::string out;
  for (const Bucket& b : lines_) {
    out += b.key;
    out += '=';
    out += std::to_string(b.amount);
    out += "\r\n";
  }
  return out;
}

void Statistics::BucketList::SumByDay(std::vector<DayTraffic>& days, TDateTime now,
                                      int64_t DayTraffic::*field) const {
  if (days.empty()) return;
  const double first = days.front().day;
  for (const Bucket& b : lines_) {
    const double index = std::floor(std::min(b.day, now)) - first;
    if (index >= 0 && index < static_cast<double>(days.size()))
      days[static_cast<size_t>(index)].*field += b.amount;
  }
}

// ---- counters

void Statistics::ResetCounters() {
  gigas_ = bytes_ = 0;
  pages_ = sessions_ = connections_ = documents_ = 0;
}

void Statistics::ResetStatistics() {
  std::lock_guard lock(mutex_);
  ResetCounters();
  agents_.clear();
}

void Statistics::LoadCounters(const std::string& text, std::vector<std::string>* skipped) {
  ResetCounters();
  struct Counter {
    const char* name;
    int64_t* big;
    int32_t* small;
  };
  const Counter counters[] = {
      {"gigasdownloaded", &gigas_, nullptr},   {"bytesdownloaded", &bytes_, nullptr},
      {"pagesdownloaded", nullptr, &pages_},   {"sessions", nullptr, &sessions_},
      {"connections", nullptr, &connections_}, {"documents", nullptr, &documents_}};
  for (const std::string& line : SplitDataLines(text)) {
    if (line.empty()) continue;
    const std::string name = NameOfLine(line);
    const std::string value = ValueOfLine(line);
    bool ok = false;
    for (const Counter& c : counters) {
      if (line.find('=') == std::string::npos || !SameText(name, c.name)) continue;
      ok = c.big ? TryParseInt64(value, *c.big) : TryParseInt(value, *c.small);
      break;
    }
    if (!ok) NoteSkipped(skipped, kCountersFile, line);
  }
}

std::string Statistics::CountersText() const {
  return "gigasdownloaded=" + std::to_string(gigas_) +
         "\r\nbytesdownloaded=" + std::to_string(bytes_) +
         "\r\npagesdownloaded=" + std::to_string(pages_) +
         "\r\nsessions=" + std::to_string(sessions_) +
         "\r\nconnections=" + std::to_string(connections_) +
         "\r\ndocuments=" + std::to_string(documents_) + "\r\n";
}

// ---- load and save

bool Statistics::LoadStatistics(const std::string& folder, std::vector<std::string>* skipped) {
  const std::string base = IncludeTrailingSeparator(folder);
  std::lock_guard lock(mutex_);
  // Each file on its own: one that is missing starts empty and costs the others nothing,
  // or their buckets would be saved empty over the data.
  bool all = true;
  ResetCounters();
  if (auto text = ReadWholeFile(base + kCountersFile))
    LoadCounters(*text, skipped);
  else
    all = false;
  agents_.clear();
  if (auto text = ReadWholeFile(base + kAgentsFile))
    agents_ = SplitDataLines(*text);
  else
    all = false;
  connectionBuckets_.Clear();
  if (auto text = ReadWholeFile(base + kConnectionsFile))
    connectionBuckets_.Load(*text, kConnectionsFile, skipped);
  else
    all = false;
  byteBuckets_.Clear();
  if (auto text = ReadWholeFile(base + kBytesFile))
    byteBuckets_.Load(*text, kBytesFile, skipped);
  else
    all = false;
  // As before, an incomplete load leaves the counters at 0.
  if (!all) ResetCounters();
  return all;
}

bool Statistics::SaveStatistics(const std::string& folder) const {
  const std::string base = IncludeTrailingSeparator(folder);
  std::lock_guard saving(saveMutex_);
  std::string counters, agents, connections, bytes;
  {
    std::lock_guard lock(mutex_);
    counters = CountersText();
    agents = JoinLinesCrLf(agents_);
    connections = connectionBuckets_.Text();
    bytes = byteBuckets_.Text();
  }
  return WriteFileAtomic(base + kCountersFile, counters) &&
         WriteFileAtomic(base + kAgentsFile, agents) &&
         WriteFileAtomic(base + kConnectionsFile, connections) &&
         WriteFileAtomic(base + kBytesFile, bytes);
}

// ---- counting

void Statistics::AddBytesDownloaded(int64_t n) {
  const TDateTime now = Now();
  std::lock_guard lock(mutex_);
  // Tested before adding, so the remainder may pass one giga until the next call.
  if (bytes_ > kBytesPerGiga) {
    ++gigas_;
    bytes_ -= kBytesPerGiga;
  }
  bytes_ += n;
  byteBuckets_.Add(n, now);
}

void Statistics::AddPagesDownloaded(int32_t n) {
  std::lock_guard lock(mutex_);
  pages_ = AddWrapping(pages_, n);
}

void Statistics::AddSessions(int32_t n) {
  std::lock_guard lock(mutex_);
  sessions_ = AddWrapping(sessions_, n);
}

void Statistics::AddConnections(int32_t n) {
  const TDateTime now = Now();
  std::lock_guard lock(mutex_);
  connections_ = AddWrapping(connections_, n);
  connectionBuckets_.Add(n, now);
}

int64_t Statistics::GetGigasDownloaded() const {
  std::lock_guard lock(mutex_);
  return gigas_;
}

int64_t Statistics::GetBytesDownloaded() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

int32_t Statistics::GetPagesDownloaded() const {
  std::lock_guard lock(mutex_);
  return pages_;
}

int32_t Statistics::GetSessions() const {
  std::lock_guard lock(mutex_);
  return sessions_;
}

int32_t Statistics::GetConnections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

std::vector<DayTraffic> Statistics::TrafficByDay(TDateTime now, int days) const {
  std::vector<DayTraffic> out(static_cast<size_t>(std::max(days, 0)));
  const double today = std::floor(now);
  for (size_t i = 0; i < out.size(); ++i)
    out[i].day = today - static_cast<double>(out.size() - 1 - i);
  std::lock_guard lock(mutex_);
  byteBuckets_.SumByDay(out, now, &DayTraffic::bytes);
  connectionBuckets_.SumByDay(out, now, &DayTraffic::connections);
  return out;
}

}  // namespace morlak
