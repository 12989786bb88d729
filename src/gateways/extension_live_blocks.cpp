// The live control blocks by ConnID.
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "gateways/extension_control_block.h"

namespace morlak {

namespace {

std::mutex g_liveLock;
std::unordered_map<uintptr_t, std::shared_ptr<TECB>> g_live;
// Far above small numbers, so a ConnID that is a stray small integer names no request.
uintptr_t g_nextConnId = uintptr_t{1} << 20;

uintptr_t NumberOf(HCONN connId) {
  return reinterpret_cast<uintptr_t>(connId);
}

}  // namespace

void TECB::Register(const std::shared_ptr<TECB>& block) {
  std::lock_guard<std::mutex> guard(g_liveLock);
  const uintptr_t connId = g_nextConnId++;
  block->ecb.ConnID = reinterpret_cast<HCONN>(connId);
  g_live.emplace(connId, block);
}

std::shared_ptr<TECB> TECB::Find(HCONN connId) {
  std::lock_guard<std::mutex> guard(g_liveLock);
  const auto found = g_live.find(NumberOf(connId));
  return found == g_live.end() ? nullptr : found->second;
}

void TECB::Retire(TECB& block) {
  std::shared_ptr<TECB> keep;  // freed outside the table's lock
  {
    std::lock_guard<std::mutex> guard(g_liveLock);
    const auto found = g_live.find(NumberOf(block.ecb.ConnID));
    if (found != g_live.end()) {
      keep = std::move(found->second);
      g_live.erase(found);
    }
  }
  std::lock_guard<std::mutex> guard(block.lock);
  block.ended = true;
}

}  // namespace morlak
