#include "stores/members.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "platform/files.h"
#include "platform/ini_file.h"

namespace morlak {

namespace {

constexpr const char* kCountSection = "httpmembers";
constexpr const char* kCountKey = "httpmembers";
constexpr const char* kReadFailed = "readfailed";

// 0001-01-01 and 10000-01-01 as day numbers: a stored time outside them is damage.
constexpr double kFirstDay = -693593;
constexpr double kPastLastDay = 2958466;

std::string MemberSection(size_t index) {
  return "httpmember" + std::to_string(index);
}

// A line break or NUL in a value would end the line early and let the rest of the value
// pose as keys or sections of the file; lastdoc comes straight from request paths.
std::string SingleLine(const std::string& value) {
  std::string line = value;
  for (char& c : line)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return line;
}

std::string OrDash(const std::string& value) {
  return value.empty() ? "-" : value;
}

std::string ShortDateLongTime(TDateTime value) {
  return FormatShortDate(value) + " " + FormatLongTime(value);
}

}  // namespace

void MembersStore::ClearMembers() {
  std::lock_guard lock(membersLock_);
  members_.clear();
}

bool MembersStore::LoadMembers(const std::string& folder) {
  std::lock_guard lock(membersLock_);
  const IniFile ini(IncludeTrailingSeparator(folder) + kFileName);
  if (!ini.Exists()) return false;
  const int count = std::clamp(ini.ReadInteger(kCountSection, kCountKey, 0), 0, kMaxMembers);
  std::vector<THttpMemberData> members(static_cast<size_t>(count));
  for (size_t i = 0; i < members.size(); ++i) {
    const std::string section = MemberSection(i);
    THttpMemberData& m = members[i];
    m.user = ini.ReadString(section, "user", kReadFailed);
    m.pass = ini.ReadString(section, "pass", kReadFailed);
    m.home = ini.ReadString(section, "home", kReadFailed);
    m.addr = ini.ReadString(section, "addr", kReadFailed);
    const double time = ini.ReadFloat(section, "lasttime", 0);
    m.lasttime = (time >= kFirstDay && time < kPastLastDay) ? time : 0;
    m.lastdoc = ini.ReadString(section, "lastdoc", kReadFailed);
  }
  members_ = std::move(members);
  return true;
}

bool MembersStore::SaveMembers(const std::string& folder) {
  std::lock_guard lock(membersLock_);
  IniFile ini(IncludeTrailingSeparator(folder) + kFileName);
  ini.WriteInteger(kCountSection, kCountKey, static_cast<int64_t>(members_.size()));
  for (size_t i = 0; i < members_.size(); ++i) {
    const std::string section = MemberSection(i);
    const THttpMemberData& m = members_[i];
    ini.WriteString(section, "user", SingleLine(m.user));
    ini.WriteString(section, "pass", SingleLine(m.pass));
    ini.WriteString(section, "home", SingleLine(m.home));
    ini.WriteString(section, "addr", SingleLine(m.addr));
    ini.WriteFloat(section, "lasttime", m.lasttime);
    ini.WriteString(section, "lastdoc", SingleLine(m.lastdoc));
  }
  return ini.Save(FileAccess::kSecret);
}

int MembersStore::IndexOfMember(const std::string& user) const {
  for (size_t i = 0; i < members_.size(); ++i)
    if (members_[i].user == user) return static_cast<int>(i);
  return -1;
}

bool MembersStore::AddMember(const std::string& user, const std::string& pass,
                             const std::string& home) {
  std::lock_guard lock(membersLock_);
  if (IndexOfMember(user) >= 0) return false;
  members_.push_back(THttpMemberData{user, pass, home, "", 0, ""});
  return true;
}

bool MembersStore::ModifyMember(int index, const std::string& user, const std::string& pass,
                                const std::string& home) {
  std::lock_guard lock(membersLock_);
  if (index < 0 || static_cast<size_t>(index) >= members_.size()) return false;
  THttpMemberData& m = members_[static_cast<size_t>(index)];
  m.user = user;
  m.pass = pass;
  m.home = home;
  return true;
}

bool MembersStore::GetMember(int index, std::string& user, std::string& pass, std::string& home) {
  std::lock_guard lock(membersLock_);
  user.clear();
  pass.clear();
  home.clear();
  if (index < 0 || static_cast<size_t>(index) >= members_.size()) return false;
  const THttpMemberData& m = members_[static_cast<size_t>(index)];
  user = m.user;
  pass = m.pass;
  home = m.home;
  return true;
}

bool MembersStore::DeleteMember(int index) {
  std::lock_guard lock(membersLock_);
  if (index < 0 || static_cast<size_t>(index) >= members_.size()) return false;
  members_.erase(members_.begin() + index);
  return true;
}

TStringList MembersStore::ListMembers() {
  std::lock_guard lock(membersLock_);
  TStringList rows;
  rows.lines.reserve(members_.size());
  for (const THttpMemberData& m : members_) {
    rows.Add(m.user + "||" + m.pass + "||" + m.home + "||" + OrDash(m.addr) + "||" +
             (m.lasttime == 0 ? std::string("-") : ShortDateLongTime(m.lasttime)) + "||" +
             OrDash(m.lastdoc) + "||");
  }
  return rows;
}

bool MembersStore::SortMembers(int column) {
  using Before = std::function<bool(const THttpMemberData&, const THttpMemberData&)>;
  static const Before kOrders[] = {
      [](const auto& a, const auto& b) { return a.user < b.user; },
      [](const auto& a, const auto& b) { return a.pass < b.pass; },
      [](const auto& a, const auto& b) { return a.home < b.home; },
      [](const auto& a, const auto& b) { return a.addr < b.addr; },
      [](const auto& a, const auto& b) { return a.lasttime > b.lasttime; },
      [](const auto& a, const auto& b) { return a.lastdoc > b.lastdoc; },
  };
  std::lock_guard lock(membersLock_);
  if (column >= 0 && column < static_cast<int>(std::size(kOrders)))
    std::stable_sort(members_.begin(), members_.end(), kOrders[column]);
  return true;
}

bool MembersStore::MemberLogin(const std::string& address, const std::string& user,
                               const std::string& password, const std::string& document) {
  const TDateTime now = Now();
  std::lock_guard lock(membersLock_);
  bool ok = false;
  const int index = IndexOfMember(user);
  if (index >= 0 && members_[static_cast<size_t>(index)].pass == password) {
    THttpMemberData& m = members_[static_cast<size_t>(index)];
    m.addr = address;
    m.lasttime = now;
    m.lastdoc = document;
    ok = true;
  }
  const auto group = byAddress_.find(address);
  if (group != byAddress_.end()) {
    ActiveUserRow& row = *group->second.first;
    Unuse(row);
    row.lastSeen = now;
    Use(row);
  }
  return ok;
}

std::string MembersStore::GetMemberHome(const std::string& user) {
  std::lock_guard lock(membersLock_);
  const int index = IndexOfMember(user);
  return index < 0 ? std::string() : members_[static_cast<size_t>(index)].home;
}

void MembersStore::IndexAddress(ActiveUserRow& row) {
  AddressRows& rows = byAddress_[row.address];
  // New rows come last in the table, so the end is nearly always the place.
  ActiveUserRow* before = rows.last;
  while (before && before->order > row.order) before = before->prevOfAddress;
  row.prevOfAddress = before;
  row.nextOfAddress = before ? before->nextOfAddress : rows.first;
  (row.nextOfAddress ? row.nextOfAddress->prevOfAddress : rows.last) = &row;
  (before ? before->nextOfAddress : rows.first) = &row;
}

void MembersStore::UnindexAddress(ActiveUserRow& row) {
  const auto found = byAddress_.find(row.address);
  if (found == byAddress_.end()) return;
  AddressRows& rows = found->second;
  (row.prevOfAddress ? row.prevOfAddress->nextOfAddress : rows.first) = row.nextOfAddress;
  (row.nextOfAddress ? row.nextOfAddress->prevOfAddress : rows.last) = row.prevOfAddress;
  row.prevOfAddress = row.nextOfAddress = nullptr;
  if (!rows.first) byAddress_.erase(found);
}

void MembersStore::Use(ActiveUserRow& row) {
  // Times taken just before the lock can arrive slightly out of order.
  ActiveUserRow* older = newestUse_;
  while (older && older->lastSeen > row.lastSeen) older = older->older;
  row.older = older;
  row.newer = older ? older->newer : oldestUse_;
  (row.newer ? row.newer->older : newestUse_) = &row;
  (older ? older->newer : oldestUse_) = &row;
}

void MembersStore::Unuse(ActiveUserRow& row) {
  (row.older ? row.older->newer : oldestUse_) = row.newer;
  (row.newer ? row.newer->older : newestUse_) = row.older;
  row.older = row.newer = nullptr;
}

void MembersStore::DetachActiveUser(ActiveUserRow& row, std::list<ActiveUserRow>& into) {
  Unuse(row);
  UnindexAddress(row);
  bySession_.Erase(HashBytes(row.sessionId), &row);
  into.splice(into.end(), activeUsers_, row.self);
}

void MembersStore::ClearActiveUsers() {
  std::list<ActiveUserRow> gone;  // freed after the lock is given back
  std::lock_guard lock(membersLock_);
  // The window refills its list only when told that the table changed.
  if (!activeUsers_.empty()) activeUsersChanged_ = true;
  bySession_.clear();
  byAddress_.clear();
  gone.swap(activeUsers_);
  oldestUse_ = newestUse_ = nullptr;
}

bool MembersStore::RefreshActiveUserLocked(const std::string& sessionId, const std::string& address,
                                           const std::string& user, const std::string& password,
                                           const std::string& document, TDateTime now) {
  ActiveUserRow* found = bySession_.Find(
      HashBytes(sessionId), [&](const ActiveUserRow& row) { return row.sessionId == sessionId; });
  if (!found) return false;
  ActiveUserRow& row = *found;
  if (row.address != address) {
    UnindexAddress(row);
    row.address = address;
    IndexAddress(row);
  }
  row.user = user;
  row.password = password;
  row.document = document;
  Unuse(row);
  row.lastSeen = now;
  Use(row);
  activeUsersChanged_ = true;
  return true;
}

bool MembersStore::TouchActiveUser(const std::string& sessionId, const std::string& address,
                                   const std::string& user, const std::string& password,
                                   const std::string& document) {
  if (document.size() > kActiveUserTextLimit || user.size() > kActiveUserTextLimit ||
      password.size() > kActiveUserTextLimit)
    return TouchActiveUser(sessionId, address, user.substr(0, kActiveUserTextLimit),
                           password.substr(0, kActiveUserTextLimit),
                           document.substr(0, kActiveUserTextLimit));
  const TDateTime now = Now();
  {
    std::lock_guard lock(membersLock_);
    if (RefreshActiveUserLocked(sessionId, address, user, password, document, now)) return true;
  }
  return AppendActiveUser(sessionId, address, user, password, document, now);
}

void MembersStore::AddActiveUser(const std::string& sessionId, const std::string& address) {
  // A new session's id has no row yet, so the row is built without a look first.
  static const std::string kNone;
  AppendActiveUser(sessionId, address, kNone, kNone, kNone, Now());
}

bool MembersStore::AppendActiveUser(const std::string& sessionId, const std::string& address,
                                    const std::string& user, const std::string& password,
                                    const std::string& document, TDateTime now) {
  // The row is built before the lock is taken, so other requests do not wait on the heap.
  std::list<ActiveUserRow> fresh;
  // Filled in its node, with no row on the side to move from.
  ActiveUserRow& made = fresh.emplace_back();
  made.user = user;
  made.password = password;
  made.address = address;
  made.sessionId = sessionId;
  made.document = document;
  made.firstSeen = made.lastSeen = now;

  std::lock_guard lock(membersLock_);
  if (RefreshActiveUserLocked(sessionId, address, user, password, document, now)) return true;
  activeUsersChanged_ = true;
  activeUsers_.splice(activeUsers_.end(), fresh);
  ActiveUserRow& row = activeUsers_.back();
  row.self = std::prev(activeUsers_.end());
  row.order = nextOrder_++;
  Use(row);
  IndexAddress(row);
  bySession_.Insert(HashBytes(row.sessionId), &row);
  return false;
}

void MembersStore::RemoveActiveUser(const std::string& sessionId) {
  std::list<ActiveUserRow> gone;  // freed after the lock is given back
  std::lock_guard lock(membersLock_);
  ActiveUserRow* row = bySession_.Find(
      HashBytes(sessionId), [&](const ActiveUserRow& r) { return r.sessionId == sessionId; });
  if (!row) return;
  DetachActiveUser(*row, gone);
  activeUsersChanged_ = true;
}

bool MembersStore::ActiveUsersChanged() {
  std::lock_guard lock(membersLock_);
  return activeUsersChanged_;
}

TStringList MembersStore::ListActiveUsers() {
  std::lock_guard lock(membersLock_);
  TStringList rows;
  rows.lines.reserve(activeUsers_.size());
  for (const THttpUserData& u : activeUsers_) {
    std::string row =
        u.sessionId + "||" + OrDash(u.address) + "||" + OrDash(u.document) + "||" + u.user + "||";
    if (u.lastSeen != 0) {
      row += FormatFixed((u.lastSeen - u.firstSeen) * 1440.0, 2) + " min||" +
             FormatLongTime(u.lastSeen) + "||";
    } else {
      row += "-||-||";
    }
    rows.Add(std::move(row));
  }
  activeUsersChanged_ = false;
  return rows;
}

void MembersStore::PruneActiveUsers(int64_t timeoutMs) {
  const TDateTime now = Now();
  // In the order of last use the stale rows are the oldest ones and, after the clock was
  // set back, the newest ones. They are taken out a few per lock and freed after it, so
  // that requests are not held up by the end of a burst of tens of thousands of sessions.
  constexpr int kBatch = 32;
  for (bool more = true; more;) {
    std::list<ActiveUserRow> gone;
    {
      std::lock_guard lock(membersLock_);
      for (ActiveUserRow** end : {&oldestUse_, &newestUse_}) {
        while (*end && gone.size() < kBatch &&
               MillisecondsBetween(now, (*end)->lastSeen) > timeoutMs) {
          DetachActiveUser(**end, gone);
          activeUsersChanged_ = true;
        }
      }
    }
    more = gone.size() == kBatch;
    // A request woken by the unlock gets the lock before the next batch takes it again.
    if (more) std::this_thread::yield();
  }
}

}  // namespace morlak
