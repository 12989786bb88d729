// Registered members (kept in httpmembers.lst) and the in-memory list of active users,
// both guarded by one lock.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/datetime.h"
#include "platform/pointer_hash_index.h"
#include "platform/text.h"

namespace morlak {

struct THttpMemberData {
  std::string user;
  std::string pass;
  std::string home;
  std::string addr;
  TDateTime lasttime = 0;
  std::string lastdoc;
};

struct THttpUserData {
  std::string user;
  std::string password;
  std::string address;
  std::string sessionId;
  std::string document;
  TDateTime firstSeen = 0;
  TDateTime lastSeen = 0;
};

class MembersStore {
 public:
  static constexpr const char* kFileName = "httpmembers.lst";
  // A corrupt member count never makes the table larger than this.
  static constexpr int kMaxMembers = 100000;
  // The most of a client-given text an active-user row keeps.
  static constexpr size_t kActiveUserTextLimit = 1024;

  void ClearMembers();
  bool LoadMembers(const std::string& folder);
  bool SaveMembers(const std::string& folder);
  bool AddMember(const std::string& user, const std::string& pass, const std::string& home);
  bool ModifyMember(int index, const std::string& user, const std::string& pass,
                    const std::string& home);
  bool GetMember(int index, std::string& user, std::string& pass, std::string& home);
  bool DeleteMember(int index);
  TStringList ListMembers();
  // Columns 0..3 ascending by user, pass, home, addr; 4 newest lasttime first; 5 lastdoc
  // descending. Equal keys keep their order.
  bool SortMembers(int column);
  bool MemberLogin(const std::string& address, const std::string& user, const std::string& password,
                   const std::string& document);
  std::string GetMemberHome(const std::string& user);

  void ClearActiveUsers();
  // True when the session already had a row (refreshed), false when one was appended.
  bool TouchActiveUser(const std::string& sessionId, const std::string& address,
                       const std::string& user, const std::string& password,
                       const std::string& document);
  // The row of a session that has just started; a row its id has already is refreshed.
  void AddActiveUser(const std::string& sessionId, const std::string& address);
  // The row of the session, when it has one.
  void RemoveActiveUser(const std::string& sessionId);
  bool ActiveUsersChanged();
  TStringList ListActiveUsers();
  void PruneActiveUsers(int64_t timeoutMs);

 private:
  // A row with its links: its place in the order of last use (least recent first), so
  // pruning takes only the stale rows from the ends instead of walking the whole table
  // under the lock, and its neighbours among the rows of its address in table order, so
  // the earliest row of an address is found at once. Links instead of index nodes keep
  // the row small: a cookie-less client leaves one per request.
  struct ActiveUserRow : THttpUserData {
    std::list<ActiveUserRow>::iterator self{};
    uint64_t order = 0;  // insertion number
    ActiveUserRow* older = nullptr;
    ActiveUserRow* newer = nullptr;
    ActiveUserRow* prevOfAddress = nullptr;
    ActiveUserRow* nextOfAddress = nullptr;
  };
  struct AddressRows {
    ActiveUserRow* first = nullptr;
    ActiveUserRow* last = nullptr;
  };

  // Updates the session's row when it has one.
  bool RefreshActiveUserLocked(const std::string& sessionId, const std::string& address,
                               const std::string& user, const std::string& password,
                               const std::string& document, TDateTime now);
  // Appends a row for the session, or refreshes the one another request added meanwhile.
  bool AppendActiveUser(const std::string& sessionId, const std::string& address,
                        const std::string& user, const std::string& password,
                        const std::string& document, TDateTime now);
  // Index of the first member named exactly `user`, or -1.
  int IndexOfMember(const std::string& user) const;
  // Adds the row to the rows of its address, in table order; Unindex takes it out.
  void IndexAddress(ActiveUserRow& row);
  void UnindexAddress(ActiveUserRow& row);
  // Takes the row out of the table and its indexes and moves it to `into`.
  void DetachActiveUser(ActiveUserRow& row, std::list<ActiveUserRow>& into);
  // Puts the row into the order of last use by its lastSeen (nearly always at the newest
  // end); Unuse takes it out.
  void Use(ActiveUserRow& row);
  void Unuse(ActiveUserRow& row);

  std::mutex membersLock_;
  std::vector<THttpMemberData> members_;

  // Rows in insertion order; the maps find a session's row and the earliest row of an
  // address without scanning, since every request touches the table.
  std::list<ActiveUserRow> activeUsers_;
  ActiveUserRow* oldestUse_ = nullptr;
  ActiveUserRow* newestUse_ = nullptr;
  // Hashes of the rows' session ids.
  ShardedPointerIndex<ActiveUserRow> bySession_;
  std::unordered_map<std::string, AddressRows> byAddress_;
  uint64_t nextOrder_ = 0;
  bool activeUsersChanged_ = false;
};

}  // namespace morlak
