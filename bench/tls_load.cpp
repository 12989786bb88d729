// A TLS load client for the HTTPS benchmarks: CONNECTIONS threads, each opening a new
// connection per request, with a full handshake every time or resuming its last session,
// or (keep) sending its requests one after another over one kept connection, opened anew
// only when the server closes it, or (resume-keep N) resuming its last session on each new
// connection and sending N requests over it, the last one asking the server to close.
// Usage: tls_load PORT PATH CONNECTIONS SECONDS full|resume|keep|resume-keep N
// Prints "requests=N seconds=S rps=R resumed=K errors=E" (K counts resumed connections).
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Totals {
  std::atomic<long> requests{0}, resumed{0}, errors{0};
};

// One request on a new connection; true when the answer began with a 200 status.
bool OneRequest(SSL_CTX* ctx, int port, const std::string& request, SSL_SESSION*& session,
                bool resume, bool& reused) {
  const morlak::SocketHandle s = morlak::SocketCreateStream();
  if (s == morlak::kInvalidSocket) return false;
  bool ok = false;
  SSL* ssl = nullptr;
  if (morlak::SocketConnect(s, "127.0.0.1", port) && (ssl = SSL_new(ctx)) &&
      SSL_set_fd(ssl, s) == 1) {
    if (resume && session) SSL_set_session(ssl, session);
    if (SSL_connect(ssl) == 1 &&
        SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
      char buffer[16384];
      std::string head;
      int n;
      while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
        if (head.size() < 16) head.append(buffer, static_cast<size_t>(n));
      ok = head.rfind("HTTP/1.1 200", 0) == 0;
      // The server has closed; marking the connection as shut down keeps the session
      // resumable (OpenSSL drops sessions of connections freed mid-way).
      SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
      reused = SSL_session_reused(ssl) == 1;
      if (resume && ok) {
        if (session) SSL_SESSION_free(session);
        session = SSL_get1_session(ssl);
      }
    }
  }
  if (ssl) SSL_free(ssl);
  morlak::SocketClose(s);
  ERR_clear_error();
  return ok;
}

// Reads one answer (header and Content-Length body) into `head`; false when the connection
// ended first or the answer has no length.
bool ReadAnswer(SSL* ssl, std::string& pending, std::string& head) {
  char buffer[16384];
  for (;;) {
    const size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t at = pending.find("Content-Length: ");
      if (at == std::string::npos || at > end) return false;
      const size_t total = end + 4 + std::strtoul(pending.c_str() + at + 16, nullptr, 10);
      if (pending.size() >= total) {
        head = pending.substr(0, end);
        pending.erase(0, total);
        return true;
      }
    }
    const int n = SSL_read(ssl, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending.append(buffer, static_cast<size_t>(n));
  }
}

// Requests over one kept connection until `end` or the server closes it; counts the 200s.
// With `session` (resume-keep) the connection offers it and keeps the one it gets, and
// sends `count` requests, the last with `lastRequest`.
void KeptRequests(SSL_CTX* ctx, int port, const std::string& request, Clock::time_point end,
                  Totals& totals, SSL_SESSION** session = nullptr, int count = 0,
                  const std::string& lastRequest = std::string()) {
  const morlak::SocketHandle s = morlak::SocketCreateStream();
  if (s == morlak::kInvalidSocket) return;
  SSL* ssl = nullptr;
  if (morlak::SocketConnect(s, "127.0.0.1", port) && (ssl = SSL_new(ctx)) &&
      SSL_set_fd(ssl, s) == 1 && (!session || !*session || SSL_set_session(ssl, *session) == 1) &&
      SSL_connect(ssl) == 1) {
    if (session && SSL_session_reused(ssl) == 1) ++totals.resumed;
    std::string pending, head;
    for (int sent = 1; Clock::now() < end; ++sent) {
      const std::string& r = sent == count ? lastRequest : request;
      if (SSL_write(ssl, r.data(), static_cast<int>(r.size())) <= 0 ||
          !ReadAnswer(ssl, pending, head))
        break;
      if (head.rfind("HTTP/1.1 200", 0) == 0)
        ++totals.requests;
      else
        ++totals.errors;
      if (head.find("Connection: close") != std::string::npos) break;
    }
    if (session) {
      // As in OneRequest: a connection marked shut down leaves its session resumable.
      SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
      if (SSL_SESSION* got = SSL_get1_session(ssl)) {
        if (*session) SSL_SESSION_free(*session);
        *session = got;
      }
    }
  } else {
    ++totals.errors;
  }
  if (ssl) SSL_free(ssl);
  morlak::SocketClose(s);
  ERR_clear_error();
}

}  // namespace

int main(int argc, char** argv) {
  const bool resumeKeep = argc == 7 && std::strcmp(argv[5], "resume-keep") == 0;
  const bool known =
      argc == 6 && (std::strcmp(argv[5], "full") == 0 || std::strcmp(argv[5], "resume") == 0 ||
                    std::strcmp(argv[5], "keep") == 0);
  if (!known && !resumeKeep) {
    std::fprintf(stderr,
                 "usage: tls_load PORT PATH CONNECTIONS SECONDS full|resume|keep|resume-keep N\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const bool keep = std::strcmp(argv[5], "keep") == 0 || resumeKeep;
  const int perConnection = resumeKeep ? std::max(std::atoi(argv[6]), 1) : 0;
  const std::string head = std::string("GET ") + argv[2] + " HTTP/1.1\r\nHost: localhost\r\n";
  const std::string closing = head + "Connection: close\r\n\r\n";
  const std::string request = keep ? head + "\r\n" : closing;
  const int connections = std::atoi(argv[3]);
  const double seconds = std::atof(argv[4]);
  const bool resume = std::strcmp(argv[5], "resume") == 0 || resumeKeep;

  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  // Without resumption the client keeps no session and takes no tickets.
  SSL_CTX_set_session_cache_mode(ctx, resume ? SSL_SESS_CACHE_CLIENT : SSL_SESS_CACHE_OFF);
  if (!resume) SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);

  Totals totals;
  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int i = 0; i < connections; ++i) {
    threads.emplace_back([&] {
      SSL_SESSION* session = nullptr;
      while (keep && Clock::now() < end)
        KeptRequests(ctx, port, request, end, totals, resumeKeep ? &session : nullptr,
                     perConnection, closing);
      while (!keep && Clock::now() < end) {
        bool reused = false;
        if (OneRequest(ctx, port, request, session, resume, reused)) {
          ++totals.requests;
          if (reused) ++totals.resumed;
        } else {
          ++totals.errors;
        }
      }
      if (session) SSL_SESSION_free(session);
    });
  }
  for (auto& t : threads) t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("requests=%ld seconds=%.2f rps=%.0f resumed=%ld errors=%ld\n", totals.requests.load(),
              elapsed, totals.requests.load() / elapsed, totals.resumed.load(),
              totals.errors.load());
  SSL_CTX_free(ctx);
  return 0;
}
