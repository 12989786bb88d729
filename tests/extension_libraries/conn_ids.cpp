// Test extension library calling back with ConnIDs the server must refuse: that of an
// ended request, a made-up one, and its own from a thread after the answer went out.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "gateways/extension_interface.h"

static HCONN kept;
static std::atomic<int> late{-1};
static decltype(EXTENSION_CONTROL_BLOCK::WriteClient) writeClient;
static decltype(EXTENSION_CONTROL_BLOCK::GetServerVariable) variable;

// How many of two calls with `connId` got through.
static int Try(HCONN connId) {
  char value[256] = "x";
  DWORD size = sizeof value, one = 1;
  return variable(connId, const_cast<char*>("QUERY_STRING"), value, &size) +
         writeClient(connId, value, &one, 0);
}

extern "C" BOOL GetExtensionVersion(HSE_VERSION_INFO*) {
  return TRUE;
}

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  writeClient = ecb->WriteClient;
  variable = ecb->GetServerVariable;
  const std::string action = ecb->lpszPathInfo;
  if (action == "/keep") kept = ecb->ConnID;
  if (action == "/late" || action == "/slow")
    std::thread([ecb, connId = ecb->ConnID, slow = action == "/slow"] {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      if (!slow) return late.store(Try(connId));
      DWORD four = 4;
      writeClient(connId, const_cast<char*>("slow"), &four, 0);
      ecb->ServerSupportFunction(connId, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr);
    }).detach();
  if (action == "/slow") return HSE_STATUS_PENDING;
  const std::string answer =
      std::to_string(action == "/ended"     ? Try(kept)
                     : action == "/unknown" ? Try(reinterpret_cast<HCONN>(0x10))
                                            : late.load());
  DWORD size = static_cast<DWORD>(answer.size());
  writeClient(ecb->ConnID, const_cast<char*>(answer.data()), &size, 0);
  return HSE_STATUS_SUCCESS;
}
