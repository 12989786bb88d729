// Cost of the per-request member-table calls as the active-user table grows: a client
// without cookies adds one row per request, so TouchActiveUser and MemberLogin must not
// slow down with the number of rows.
// Run: cmake --build build --target active_users_bench && build/bench/active_users_bench
#include <chrono>
#include <cstdio>
#include <string>

#include "stores/members.h"

namespace {

double NanosecondsPer(int count, const std::chrono::steady_clock::duration& spent) {
  return std::chrono::duration<double, std::nano>(spent).count() / count;
}

}  // namespace

int main() {
  using Clock = std::chrono::steady_clock;
  constexpr int kProbe = 20000;
  std::printf("%10s %16s %16s %16s\n", "rows", "new row ns", "refresh ns", "login ns");
  for (int rows : {1000, 10000, 100000, 400000}) {
    morlak::MembersStore store;
    store.AddMember("ann", "pw", "/home/ann");
    for (int i = 0; i < rows; ++i)
      store.TouchActiveUser("fill" + std::to_string(i), "10.0." + std::to_string(i % 250) + ".1",
                            "", "", "");

    auto start = Clock::now();
    for (int i = 0; i < kProbe; ++i)
      store.TouchActiveUser("new" + std::to_string(i), "192.168.0.1", "", "", "/index.html");
    const double added = NanosecondsPer(kProbe, Clock::now() - start);

    start = Clock::now();
    for (int i = 0; i < kProbe; ++i)
      store.TouchActiveUser("fill" + std::to_string(i * 7 % rows), "10.0.0.1", "ann", "pw", "/a");
    const double refreshed = NanosecondsPer(kProbe, Clock::now() - start);

    start = Clock::now();
    for (int i = 0; i < kProbe; ++i) store.MemberLogin("192.168.0.1", "ann", "pw", "/index.html");
    const double login = NanosecondsPer(kProbe, Clock::now() - start);

    std::printf("%10d %16.0f %16.0f %16.0f\n", rows, added, refreshed, login);
  }
  return 0;
}
