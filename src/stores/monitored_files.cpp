#include "stores/monitored_files.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/files.h"
#include "platform/ini_file.h"

namespace morlak {

namespace {

constexpr const char* kCountSection = "specialfiles";
constexpr const char* kReadFailed = "readfailed";

std::string EntrySection(size_t i) {
  return "specialfile" + std::to_string(i);
}

std::string FormatDateAndTime(TDateTime t) {
  return FormatShortDate(t) + " " + FormatLongTime(t);
}

// Whole days of a span, halves to even.
double RoundDays(double span) {
  return std::nearbyint(span);
}

void UpdateAverage(TSpecialfiledata& e, TDateTime now) {
  if (e.count <= 0 || e.starttime <= 0) {
    e.avgperday = 0;
    return;
  }
  double days = 1;
  if (RoundDays(now - e.starttime) != 0)
    days = std::max(1.0, RoundDays(std::floor(now) - e.starttime));
  e.avgperday = e.count / days;
}

// True when `b` must come before `a` for the column's order.
bool OutOfOrder(const TSpecialfiledata& a, const TSpecialfiledata& b, int column) {
  switch (column) {
    case 0:
      return a.filename > b.filename;
    case 1:
      return a.count < b.count;
    case 2:
      return a.lasttime < b.lasttime;
    case 3:
      return a.lastip > b.lastip;
    case 4:
      return a.avgperday < b.avgperday;
    case 5:
      return a.counttoday < b.counttoday;
    default:
      return false;
  }
}

}  // namespace

int MonitoredFiles::Find(const std::string& name) const {
  if (entries_.empty()) return -1;
  const auto it = index_.find(LowerCase(name));
  return it == index_.end() ? -1 : static_cast<int>(it->second);
}

void MonitoredFiles::RebuildIndex() {
  index_.clear();
  for (size_t i = 0; i < entries_.size(); ++i)
    index_.try_emplace(LowerCase(entries_[i].filename), i);
}

void MonitoredFiles::ClearMonitoredFiles() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  index_.clear();
}

bool MonitoredFiles::LoadMonitoredFiles(const std::string& folder) {
  const IniFile ini(IncludeTrailingSeparator(folder) + kFileName);
  if (!ini.Exists()) return false;
  const int32_t stored = ini.ReadInteger(kCountSection, "specialfiles", 0);
  const size_t count = static_cast<size_t>(std::clamp(stored, 0, kMaxEntries));
  std::vector<TSpecialfiledata> loaded(count);
  for (size_t i = 0; i < count; ++i) {
    const std::string section = EntrySection(i);
    TSpecialfiledata& e = loaded[i];
    e.filename = ini.ReadString(section, "filename", kReadFailed);
    e.count = ini.ReadInteger(section, "count", 0);
    e.lasttime = ini.ReadFloat(section, "lasttime", 0);
    e.lastip = ini.ReadString(section, "lastip", kReadFailed);
    e.starttime = ini.ReadFloat(section, "starttime", 0);
    e.avgperday = ini.ReadFloat(section, "avgperday", 0);
    e.today = ini.ReadFloat(section, "today", 0);
    e.counttoday = ini.ReadInteger(section, "counttoday", 0);
  }
  std::lock_guard lock(mutex_);
  entries_ = std::move(loaded);
  RebuildIndex();
  return true;
}

bool MonitoredFiles::SaveMonitoredFiles(const std::string& folder) const {
  std::lock_guard saving(saveMutex_);
  IniFile ini(IncludeTrailingSeparator(folder) + kFileName);
  const std::vector<TSpecialfiledata> entries = Entries();
  ini.WriteInteger(kCountSection, "specialfiles", static_cast<int64_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string section = EntrySection(i);
    const TSpecialfiledata& e = entries[i];
    ini.WriteString(section, "filename", e.filename);
    ini.WriteInteger(section, "count", e.count);
    ini.WriteFloat(section, "lasttime", e.lasttime);
    ini.WriteString(section, "lastip", e.lastip);
    ini.WriteFloat(section, "starttime", e.starttime);
    ini.WriteFloat(section, "avgperday", e.avgperday);
    ini.WriteFloat(section, "today", e.today);
    ini.WriteInteger(section, "counttoday", e.counttoday);
  }
  return ini.Save();
}

std::vector<TSpecialfiledata> MonitoredFiles::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

bool MonitoredFiles::GetMonitoredCount(const std::string& name, int32_t& count) const {
  std::lock_guard lock(mutex_);
  const int i = Find(name);
  count = i < 0 ? 0 : entries_[i].count;
  return i >= 0;
}

bool MonitoredFiles::GetMonitoredToday(const std::string& name, int32_t& countToday) const {
  std::lock_guard lock(mutex_);
  const int i = Find(name);
  countToday = i < 0 ? 0 : entries_[i].counttoday;
  return i >= 0;
}

bool MonitoredFiles::GetMonitoredAvgPerDay(const std::string& name, double& avgPerDay) const {
  std::lock_guard lock(mutex_);
  const int i = Find(name);
  avgPerDay = i < 0 ? 0 : entries_[i].avgperday;
  return i >= 0;
}

bool MonitoredFiles::AddMonitoredFile(const std::string& name) {
  const TDateTime now = Now();
  std::lock_guard lock(mutex_);
  if (Find(name) >= 0) return false;
  TSpecialfiledata e;
  e.filename = name;
  e.starttime = now;
  e.today = std::floor(now);
  entries_.push_back(std::move(e));
  index_.try_emplace(LowerCase(name), entries_.size() - 1);
  return true;
}

bool MonitoredFiles::DeleteMonitoredFile(const std::string& name) {
  std::lock_guard lock(mutex_);
  const int i = Find(name);
  if (i < 0) return false;
  entries_.erase(entries_.begin() + i);
  RebuildIndex();
  return true;
}

bool MonitoredFiles::CountMonitoredHit(const std::string& name, const std::string& clientAddress) {
  const TDateTime now = Now();
  std::lock_guard lock(mutex_);
  const int i = Find(name);
  if (i < 0) return false;
  TSpecialfiledata& e = entries_[i];
  e.count = static_cast<int32_t>(static_cast<uint32_t>(e.count) + 1u);
  e.lasttime = now;
  e.lastip = clientAddress;
  if (e.starttime == 0) e.starttime = now;
  UpdateAverage(e, now);
  // The day's count rolls over only here, at the first hit of a new day.
  if (std::floor(now) != e.today) {
    e.today = std::floor(now);
    e.counttoday = 0;
  }
  ++e.counttoday;
  return true;
}

bool MonitoredFiles::ResetMonitoredFile(const std::string& name) {
  const TDateTime now = Now();
  std::lock_guard lock(mutex_);
  const int i = Find(name);
  if (i < 0) return false;
  TSpecialfiledata& e = entries_[i];
  e.count = 0;
  e.lasttime = 0;
  e.lastip.clear();
  e.counttoday = 0;
  e.today = std::floor(now);
  return true;
}

TStringList MonitoredFiles::ListMonitoredFiles() const {
  std::lock_guard lock(mutex_);
  TStringList rows;
  rows.lines.reserve(entries_.size());
  for (const TSpecialfiledata& e : entries_) {
    rows.Add(e.filename + "||" + std::to_string(e.count) + "||" +
             (e.lasttime == 0 ? std::string("-") : FormatDateAndTime(e.lasttime)) + "||" +
             (e.lastip.empty() ? std::string("-") : e.lastip) + "||" + FormatFixed(e.avgperday, 2) +
             " (" + (e.starttime == 0 ? std::string("-") : FormatShortDate(e.starttime)) + ")||" +
             std::to_string(e.counttoday) + "||");
  }
  return rows;
}

void MonitoredFiles::SortMonitoredFiles(int column) {
  std::lock_guard lock(mutex_);
  // A bubble sort swaps only neighbours that are out of order, so equal keys keep
  // their places.
  for (size_t pass = 1; pass < entries_.size(); ++pass)
    for (size_t i = 0; i + 1 < entries_.size(); ++i)
      if (OutOfOrder(entries_[i], entries_[i + 1], column)) std::swap(entries_[i], entries_[i + 1]);
  RebuildIndex();
}

}  // namespace morlak
