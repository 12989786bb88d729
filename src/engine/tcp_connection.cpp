#include "engine/tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/engine_errors.h"
#include "engine/transfer_pacer.h"
#include "platform/stream.h"

namespace morlak {

namespace {

bool ClosesSocket(int code) {
  return code == kSocketShutDown || code == kSocketConnectionAborted;
}

// Connection threads serve one connection after another; keeping one receive buffer per
// thread spares the heap a 32 KB block per connection, whose allocation makes it merge all
// its small free blocks each time.
struct SpareBuffer {
  std::unique_ptr<char[]> data;
  size_t capacity = 0;
};
constexpr size_t kSpareBufferLimit = 65536;
thread_local SpareBuffer t_spare;
// Files up to this size are copied into an open write buffer instead of sent on their own.
constexpr int64_t kFileJoinLimit = 16384;
// The same for the write buffer, in which every answer's header is built.
thread_local std::string t_spareWrite;

// Empties the write buffer once its bytes are sent, or failed to be; it keeps its room.
struct ClearAfterSend {
  std::string& buffer;
  ~ClearAfterSend() { buffer.clear(); }
};

}  // namespace

TIdTCPConnection::TIdTCPConnection(std::unique_ptr<TIdIOHandler> ioHandler)
    : io_(std::move(ioHandler)) {}

TIdTCPConnection::~TIdTCPConnection() {
  GiveInputRoomToThread();
  GiveWriteRoomToThread();
}

void TIdTCPConnection::GiveInputRoomToThread() {
  if (in_ && inCapacity_ <= kSpareBufferLimit && inCapacity_ > t_spare.capacity) {
    t_spare.data = std::move(in_);
    t_spare.capacity = inCapacity_;
  }
}

void TIdTCPConnection::GiveWriteRoomToThread() {
  if (writeBuffer_.capacity() <= kSpareBufferLimit &&
      writeBuffer_.capacity() > t_spareWrite.capacity())
    t_spareWrite.swap(writeBuffer_);
}

void TIdTCPConnection::Consume(size_t n) {
  consumed_ += n;
  inBegin_ += n;
  if (inBegin_ == inEnd_) inBegin_ = inEnd_ = 0;
}

void TIdTCPConnection::LimitReads(int totalMs, int gapMs, int graceMs, int minBytesPerSecond) {
  const auto now = std::chrono::steady_clock::now();
  readDeadline_ = totalMs > 0 ? now + std::chrono::milliseconds(totalMs)
                              : std::chrono::steady_clock::time_point::max();
  readGapMs_ = std::max(gapMs, 0);
  rateStart_ = now;
  rateBase_ = consumed_;
  rateGraceMs_ = std::max(graceMs, 0);
  minRate_ = std::max(minBytesPerSecond, 0);
  // The connection's own receive limit must not count against the client.
  if (receivePacer_ && minRate_ > receivePacer_->Rate() / 2)
    minRate_ = static_cast<int>(receivePacer_->Rate() / 2);
}

void TIdTCPConnection::LimitRates(int64_t receivePerSecond, int64_t sendPerSecond) {
  receivePacer_ =
      receivePerSecond > 0 ? std::make_unique<TransferPacer>(receivePerSecond) : nullptr;
  sendPacer_ = sendPerSecond > 0 ? std::make_unique<TransferPacer>(sendPerSecond) : nullptr;
}

int TIdTCPConnection::WaitFor(int timeoutMs, bool& bounded) const {
  int wait = timeoutMs > 0 ? timeoutMs : -1;
  bounded = false;
  if (readGapMs_ > 0 && (wait < 0 || readGapMs_ < wait)) {
    wait = readGapMs_;
    bounded = true;
  }
  if (readDeadline_ != std::chrono::steady_clock::time_point::max()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        readDeadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw EIdReadTimeout();
    if (wait < 0 || left.count() < wait) {
      wait = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
      bounded = true;
    }
  }
  if (minRate_ > 0) {
    // The next byte is due when the average would otherwise drop below the rate, but
    // never before the grace time is over.
    const uint64_t received = consumed_ + Buffered() - rateBase_;
    const int64_t dueMs = std::max<int64_t>(
        rateGraceMs_,
        static_cast<int64_t>((received + 1) * 1000 / static_cast<uint64_t>(minRate_)));
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        rateStart_ + std::chrono::milliseconds(dueMs) - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw EIdReadTimeout();
    if (wait < 0 || left.count() < wait) {
      wait = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
      bounded = true;
    }
  }
  return wait;
}

void TIdTCPConnection::ReserveInput(size_t chunk) {
  if (inCapacity_ - inEnd_ >= chunk) return;
  const size_t held = Buffered();
  if (inCapacity_ - held >= chunk) {
    std::memmove(in_.get(), in_.get() + inBegin_, held);
  } else if (!in_ && t_spare.capacity >= chunk) {
    in_ = std::move(t_spare.data);
    inCapacity_ = std::exchange(t_spare.capacity, 0);
  } else {
    const size_t capacity = std::max(inCapacity_ * 2, held + chunk);
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (held) std::memcpy(grown.get(), in_.get() + inBegin_, held);
    in_ = std::move(grown);
    inCapacity_ = capacity;
  }
  inBegin_ = 0;
  inEnd_ = held;
}

void TIdTCPConnection::ReleaseInputBuffer() {
  GiveWriteRoomToThread();
  std::string().swap(writeBuffer_);
  if (!in_ || Buffered() > 0) return;
  GiveInputRoomToThread();
  in_.reset();
  inCapacity_ = inBegin_ = inEnd_ = 0;
}

void TIdTCPConnection::Received(int64_t n) {
  if (n > 0) {
    if (receivePacer_) receivePacer_->Spend(n);
    inEnd_ += static_cast<size_t>(n);
  } else {
    // Only the peer's sending side may be done (a body read to its end): the answer can
    // still go out, so the socket stays open for writing.
    closedGracefully_ = true;
  }
}

bool TIdTCPConnection::InputPending(bool justArrived) {
  if (Buffered() > 0 || !CanReceive()) return true;
  if (!justArrived && arrivalsTaken_ && !io_->LooksForInputBeforeWait()) return false;
  const size_t chunk = static_cast<size_t>(std::max(RecvBufferSize, 1));
  ReserveInput(chunk);
  const int64_t n = io_->RecvArrived(in_.get() + inEnd_, chunk);
  arrivalsTaken_ = n < static_cast<int64_t>(chunk);
  if (n == -kSocketWouldBlock) return false;
  // A failure is left for the read, which meets it again.
  if (n >= 0) Received(n);
  return true;
}

bool TIdTCPConnection::ReceiveMore(int timeoutMs, bool raiseOnTimeout) {
  if (!IsConnected()) throw EIdClosedSocket();
  if (closedGracefully_) throw EIdConnClosedGracefully();
  const size_t chunk = static_cast<size_t>(std::max(RecvBufferSize, 1));
  // The pause comes before the wait for the peer, so the read bounds measure the peer only.
  const size_t take = receivePacer_ ? receivePacer_->Allow(chunk) : chunk;
  bool bounded;
  const int wait = WaitFor(timeoutMs, bounded);
  ReserveInput(chunk);
  // Most requests are there in full when their connection is accepted: what has arrived
  // is taken without a wait, which saves a poll per read.
  int64_t n = io_->RecvArrived(in_.get() + inEnd_, take);
  if (n == -kSocketWouldBlock) {
    if (wait >= 0) {
      const int ready = io_->WaitReadable(wait);
      if (ready < 0) throw EIdSocketError(-ready);
      if (ready == 0) {
        if (raiseOnTimeout || bounded) throw EIdReadTimeout();
        return false;
      }
    }
    io_->LimitRecvWait(bounded ? wait : -1);
    n = io_->Recv(in_.get() + inEnd_, take);
  }
  arrivalsTaken_ = n < static_cast<int64_t>(take);
  if (n >= 0) {
    Received(n);
    return true;
  }
  const int code = static_cast<int>(-n);
  if (ClosesSocket(code)) {
    CloseSocket();
    if (Buffered() > 0) return true;
  }
  throw EIdSocketError(code);
}

std::string_view TIdTCPConnection::TakeLine(size_t length, size_t dropAfter) {
  const std::string_view line(in_.get() + inBegin_, length);
  // The bytes stay where they are until the next receive.
  Consume(length + dropAfter);
  return line;
}

std::string TIdTCPConnection::ReadLine(char terminator, int timeoutMs, int maxLength) {
  return std::string(ReadLineView(terminator, timeoutMs, maxLength));
}

std::string_view TIdTCPConnection::ReadLineView(char terminator, int timeoutMs, int maxLength) {
  if (timeoutMs == kUseDefault) timeoutMs = ReadTimeout;
  if (maxLength == kUseDefault) maxLength = MaxLineLength;
  const size_t limit = maxLength > 0 ? static_cast<size_t>(maxLength) : SIZE_MAX;
  readLnTimedOut_ = false;
  size_t searched = 0;
  for (;;) {
    const char* begin = in_.get() + inBegin_;
    const void* hit = searched < Buffered()
                          ? std::memchr(begin + searched, terminator, Buffered() - searched)
                          : nullptr;
    if (hit) {
      const size_t length = static_cast<size_t>(static_cast<const char*>(hit) - begin);
      if (length > limit) {
        if (MaxLineAction == TIdMaxLineAction::maException) throw EIdMaxLineLengthExceeded();
        return TakeLine(limit, 0);
      }
      std::string_view line = TakeLine(length, 1);
      if (terminator == '\n' && !line.empty() && line.back() == '\r') line.remove_suffix(1);
      return line;
    }
    searched = Buffered();
    if (searched > limit) {
      if (MaxLineAction == TIdMaxLineAction::maException) throw EIdMaxLineLengthExceeded();
      return TakeLine(limit, 0);
    }
    if (!CanReceive()) throw EIdConnClosedGracefully();
    if (!ReceiveMore(timeoutMs, false)) {
      readLnTimedOut_ = true;
      return std::string_view();
    }
  }
}

void TIdTCPConnection::ReadExact(void* buffer, size_t count) {
  while (Buffered() < count) {
    if (!CanReceive()) throw EIdConnClosedGracefully();
    ReceiveMore(ReadTimeout, true);
  }
  std::memcpy(buffer, in_.get() + inBegin_, count);
  Consume(count);
}

void TIdTCPConnection::ReadToStream(TStream& stream, int64_t byteCount, bool readUntilClose) {
  // With the until-close flag a count, when given, is an upper bound.
  int64_t remaining = byteCount >= 0 ? byteCount : INT64_MAX;
  while (remaining > 0) {
    if (Buffered() > 0) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(remaining, Buffered()));
      stream.Write(in_.get() + inBegin_, n);
      Consume(n);
      remaining -= static_cast<int64_t>(n);
      continue;
    }
    if (!CanReceive()) {
      if (readUntilClose) return;
      throw EIdConnClosedGracefully();
    }
    ReceiveMore(ReadTimeout, true);
  }
}

void TIdTCPConnection::WriteLine(std::string_view text) {
  if (batching_) {
    Append(text.data(), text.size());
    Append("\r\n", 2);
    return;
  }
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  SendAll(line.data(), line.size(), false);
}

void TIdTCPConnection::WriteBytes(const void* data, size_t count, bool sendNow) {
  if (batching_ && !sendNow)
    Append(static_cast<const char*>(data), count);
  else
    SendAll(static_cast<const char*>(data), count, false);
}

void TIdTCPConnection::Append(const char* data, size_t count) {
  writeBuffer_.append(data, count);
  if (batchThreshold_ > 0 && static_cast<int64_t>(writeBuffer_.size()) >= batchThreshold_) {
    const size_t n = static_cast<size_t>(batchThreshold_);
    SendAll(writeBuffer_.data(), n, false);
    writeBuffer_.erase(0, n);
  }
}

void TIdTCPConnection::BeginBatch(int64_t threshold, size_t sizeHint) {
  batching_ = true;
  batchThreshold_ = threshold;
  writeBuffer_.clear();
  if (writeBuffer_.capacity() < sizeHint && t_spareWrite.capacity() >= sizeHint)
    writeBuffer_.swap(t_spareWrite);
  writeBuffer_.reserve(sizeHint);
}

void TIdTCPConnection::EndBatch(bool moreFollows, bool last) {
  batching_ = false;
  if (writeBuffer_.empty()) return;
  ClearAfterSend clear{writeBuffer_};
  SendAll(writeBuffer_.data(), writeBuffer_.size(), moreFollows, last);
}

void TIdTCPConnection::FailSend(int code) {
  // What is still queued for a peer that stopped reading would otherwise stay in the
  // kernel until the connection times out there too.
  if (code == kSocketTimedOut && IsConnected()) SocketSetResetOnClose(io_->Binding().Handle());
  if (ClosesSocket(code) || code == kSocketConnectionReset) CloseSocket();
  throw EIdSocketError(code);
}

void TIdTCPConnection::SendAll(const char* data, size_t count, bool moreFollows, bool last) {
  while (count > 0) {
    if (!IsConnected()) throw EIdClosedSocket();
    const size_t allowed = sendPacer_ ? sendPacer_->Allow(count) : count;
    const int64_t n = last && allowed == count ? io_->SendLast(data, allowed)
                                               : io_->Send(data, allowed, moreFollows);
    if (n < 0) FailSend(static_cast<int>(-n));
    if (sendPacer_) sendPacer_->Spend(n);
    sent_ += static_cast<uint64_t>(n);
    data += n;
    count -= static_cast<size_t>(n);
  }
}

void TIdTCPConnection::WriteFromStream(TStream& stream, bool fromStart, int64_t size) {
  if (fromStart) stream.Seek(0);
  const int64_t start = stream.Position();
  const int64_t count = size > 0 ? size : stream.Size() - start;
  if (count <= 0) return;
  auto* file = dynamic_cast<TFileStream*>(&stream);
  if (file && batching_ && batchThreshold_ <= 0 && count <= kFileJoinLimit) {
    // A small file joins what waits in the buffer (its header): copying a few pages costs
    // less than a second send and the kernel's file-to-socket path.
    const size_t held = writeBuffer_.size();
    writeBuffer_.resize(held + static_cast<size_t>(count));
    for (size_t got = 0; got < static_cast<size_t>(count);) {
      const size_t n =
          file->Read(writeBuffer_.data() + held + got, static_cast<size_t>(count) - got);
      if (n == 0) {
        writeBuffer_.resize(held);
        throw EIdNoDataToRead();
      }
      got += n;
    }
    return;
  }
  if (batching_ && !writeBuffer_.empty()) {
    ClearAfterSend clear{writeBuffer_};
    SendAll(writeBuffer_.data(), writeBuffer_.size(), true);
  }
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    if (start + count > memory->Size()) throw EIdNoDataToRead();
    SendAll(memory->Data().data() + start, static_cast<size_t>(count), false);
    memory->Seek(start + count);
    return;
  }
  if (file) {
    int64_t sent = 0;
    while (sent < count) {
      if (!IsConnected()) throw EIdClosedSocket();
      const int64_t left = count - sent;
      const int64_t allowed =
          sendPacer_ ? static_cast<int64_t>(sendPacer_->Allow(static_cast<size_t>(left))) : left;
      const int64_t n = io_->SendFileRange(*file, start + sent, allowed);
      if (n == 0) throw EIdNoDataToRead();
      if (n < 0) FailSend(static_cast<int>(-n));
      if (sendPacer_) sendPacer_->Spend(n);
      sent_ += static_cast<uint64_t>(n);
      sent += n;
    }
    file->Seek(start + count);
    return;
  }
  const size_t chunk = static_cast<size_t>(std::max(SendBufferSize, 1));
  auto buffer = std::make_unique_for_overwrite<char[]>(chunk);
  for (int64_t left = count; left > 0;) {
    const size_t n = stream.Read(buffer.get(), static_cast<size_t>(std::min<int64_t>(left, chunk)));
    if (n == 0) throw EIdNoDataToRead();
    SendAll(buffer.get(), n, false);
    left -= static_cast<int64_t>(n);
  }
}

}  // namespace morlak
