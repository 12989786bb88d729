// Where the readiness set's reports find their connections. A report can outlive the
// connection it names (reported, then the connection ended before the report was read), so
// a report names a slot and the slot's generation: slots live as long as the server, and a
// slot's generation moves on when its connection ends, which turns old reports into no-ops.
// A slot also says who has the connection: a serving thread, or nobody while it waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace morlak {

class TIdPeerThread;

class WaitSlots {
 public:
  struct Slot {
    std::atomic<uint64_t> word{0};  // generation and state
    TIdPeerThread* connection = nullptr;
  };

  // A slot for the connection, held by the calling thread.
  Slot* Acquire(TIdPeerThread* connection);
  // The connection has ended: reports naming the slot are void from now on.
  void Release(Slot* slot);

  // The report value naming the slot's current connection; never 0.
  static uint64_t Token(const Slot* slot);
  // The holding thread lets the connection wait. False when input was reported while it
  // was held: the thread keeps it and should read.
  static bool StartWait(Slot* slot);
  // The holding thread is about to read all that has arrived: input reported so far is
  // news no longer.
  static void TakeNews(Slot* slot);
  // Undoes StartWait when the connection could not wait after all. False when a report
  // claimed it meanwhile: the claiming thread has it now.
  static bool EndWait(Slot* slot);
  // For a report: the connection when it was waiting (the caller now holds it); nullptr
  // when the report is void or a thread holds it (that thread learns of the input).
  static TIdPeerThread* Claim(uint64_t token);

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<Slot[]>> blocks_;
  std::vector<Slot*> free_;
};

}  // namespace morlak
