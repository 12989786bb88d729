// One TCP connection with an input buffer and blocking primitives for reading lines,
// byte counts and everything until the peer closes, and for writing text, bytes and
// streams, directly or collected into a write buffer that leaves in one send.
// TIdTCPConnection is that connection; TIdTCPServerConnection the kind the server accepts.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/io_handler.h"

namespace morlak {

class TStream;
class TIdTCPServer;
class TransferPacer;

enum class TIdMaxLineAction { maException, maSplit };

class TIdTCPConnection {
 public:
  explicit TIdTCPConnection(std::unique_ptr<TIdIOHandler> ioHandler);
  virtual ~TIdTCPConnection();
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  int RecvBufferSize = 32768;  // most bytes taken per receive
  int SendBufferSize = 32768;  // chunk size of stream writes
  int MaxLineLength = 16384;   // 0: no limit
  TIdMaxLineAction MaxLineAction = TIdMaxLineAction::maException;
  int ReadTimeout = 0;  // ms; 0 waits without limit

  static constexpr int kUseDefault = -2;

  // Bounds every wait for the peer from now on, on top of any read timeout: all reads
  // must be done within `totalMs` from now, and no single wait may exceed `gapMs` (0: no
  // such bound). From `graceMs` on, the bytes received since this call must average at
  // least `minBytesPerSecond` (0: no such bound). A read that passes a bound fails with
  // "Read Timeout".
  void LimitReads(int totalMs, int gapMs, int graceMs = 0, int minBytesPerSecond = 0);
  // Holds what the connection receives and sends to the given bytes per second (0 or
  // less: no limit), from now on.
  void LimitRates(int64_t receivePerSecond, int64_t sendPerSecond);
  // Bytes taken out of the input buffer so far.
  uint64_t BytesConsumed() const { return consumed_; }
  // Bytes handed to the transport so far, files included.
  uint64_t BytesSent() const { return sent_; }

  // Reads up to the terminator (LF: a CR before it is dropped too). More than
  // maxLength bytes before the terminator (a CR counts) fail with "Max line length
  // exceeded." (or split with maSplit). A timed-out read returns "" and sets
  // ReadLnTimedOut(). The peer closing first fails with "Connection Closed Gracefully."
  std::string ReadLine(char terminator = '\n', int timeoutMs = kUseDefault,
                       int maxLength = kUseDefault);
  // The same line as a view into the input buffer, valid until the next read.
  std::string_view ReadLineView(char terminator = '\n', int timeoutMs = kUseDefault,
                                int maxLength = kUseDefault);
  bool ReadLnTimedOut() const { return readLnTimedOut_; }
  void ReadExact(void* buffer, size_t count);
  // Appends `byteCount` bytes to the stream, or with `readUntilClose` everything until
  // the peer closes (then the close is not an error) but at most `byteCount` bytes when
  // that is 0 or more.
  void ReadToStream(TStream& stream, int64_t byteCount, bool readUntilClose);

  void WriteText(std::string_view text) { WriteBytes(text.data(), text.size()); }
  void WriteLine(std::string_view text);
  void WriteBytes(const void* data, size_t count, bool sendNow = false);
  // Sends the stream from its start (or its position) to its end or for `size` bytes.
  // File streams go out through the transport's file send, a small one in the open write
  // buffer; a stream that ends early fails with "No data to read.".
  void WriteFromStream(TStream& stream, bool fromStart = true, int64_t size = 0);
  // Opens the write buffer; a positive threshold sends that many bytes whenever reached.
  // `sizeHint` reserves room for what is about to be written.
  void BeginBatch(int64_t threshold = -1, size_t sizeHint = 0);
  // Sends what was collected in one call and closes the buffer. `moreFollows` tells the
  // transport that more data is coming at once (a file after its header); `last` that
  // nothing more is written to the connection.
  void EndBatch(bool moreFollows = false, bool last = false);
  bool Batching() const { return batching_; }
  // The open write buffer, for text built in place; no threshold applies to it.
  std::string& BatchBuffer() { return writeBuffer_; }

  // True when a read would not wait: bytes are buffered or have arrived (they are taken
  // into the buffer), or the peer has closed. Never blocks. Unless `justArrived` (the
  // connection was handed over because input arrived), a transport whose arrivals the
  // readiness set reports is not asked once a read has found nothing more: a connection
  // waiting there learns of later arrivals anyway.
  bool InputPending(bool justArrived);
  // The peer has closed and every byte it sent has been read.
  bool InputEnded() const { return Buffered() == 0 && !CanReceive(); }
  // Gives up the empty input buffer, and the write buffer's room, while the connection
  // waits without a thread.
  void ReleaseInputBuffer();

  bool IsConnected() const { return io_->Binding().HandleAllocated(); }
  // The peer has finished sending; reads fail, writes still reach it.
  bool ClosedGracefully() const { return closedGracefully_; }
  // Ends the connection through its transport.
  void Close() { io_->Close(); }
  // Closes the socket only.
  void CloseSocket() { io_->Binding().Close(); }
  // Makes blocked reads and writes of the owning thread fail; safe from any thread.
  void Interrupt() { io_->Binding().Interrupt(); }

  const std::string& PeerAddress() const { return io_->Binding().PeerAddress(); }
  int PeerPort() const { return io_->Binding().PeerPort(); }
  TIdIOHandler& IOHandler() { return *io_; }

 private:
  size_t Buffered() const { return inEnd_ - inBegin_; }
  bool CanReceive() const { return IsConnected() && !closedGracefully_; }
  void Consume(size_t n);
  // Makes room for `chunk` more bytes at the end of the input buffer.
  void ReserveInput(size_t chunk);
  // Counts received bytes in (n > 0) or marks the peer's close (n == 0).
  void Received(int64_t n);
  // Receives once into the input buffer. False when the wait timed out and
  // `raiseOnTimeout` is off.
  bool ReceiveMore(int timeoutMs, bool raiseOnTimeout);
  void SendAll(const char* data, size_t count, bool moreFollows, bool last = false);
  [[noreturn]] void FailSend(int code);
  // Adds to the write buffer, sending a threshold's worth when it is reached.
  void Append(const char* data, size_t count);
  std::string_view TakeLine(size_t length, size_t dropAfter);
  // Hand the buffers' room to the thread for its next connection, when the thread has less.
  void GiveInputRoomToThread();
  void GiveWriteRoomToThread();
  // The wait for the next receive under the read bounds; -1: none. `bounded` tells
  // whether a bound (rather than the caller's timeout) set it.
  int WaitFor(int timeoutMs, bool& bounded) const;

  std::unique_ptr<TIdIOHandler> io_;
  std::unique_ptr<char[]> in_;
  size_t inCapacity_ = 0, inBegin_ = 0, inEnd_ = 0;
  bool closedGracefully_ = false;
  // The last read took less than it asked for: everything that had arrived was taken.
  bool arrivalsTaken_ = true;
  bool readLnTimedOut_ = false;
  uint64_t consumed_ = 0;
  uint64_t sent_ = 0;
  std::chrono::steady_clock::time_point readDeadline_ =
      std::chrono::steady_clock::time_point::max();
  int readGapMs_ = 0;
  std::unique_ptr<TransferPacer> receivePacer_, sendPacer_;  // null: no limit
  std::chrono::steady_clock::time_point rateStart_;
  uint64_t rateBase_ = 0;  // bytes received before rateStart_
  int rateGraceMs_ = 0;
  int minRate_ = 0;  // bytes per second
  std::string writeBuffer_;
  bool batching_ = false;
  int64_t batchThreshold_ = -1;
};

class TIdTCPServerConnection : public TIdTCPConnection {
 public:
  TIdTCPServerConnection(TIdTCPServer& server, std::unique_ptr<TIdIOHandler> ioHandler)
      : TIdTCPConnection(std::move(ioHandler)), server_(server) {}
  TIdTCPServer& Server() const { return server_; }

 private:
  TIdTCPServer& server_;
};

}  // namespace morlak
