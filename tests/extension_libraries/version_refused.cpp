// Test extension library whose GetExtensionVersion answers false.
#include "gateways/extension_interface.h"

extern "C" BOOL GetExtensionVersion(HSE_VERSION_INFO*) {
  return FALSE;
}

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  char text[] = "must not run";
  DWORD size = sizeof text - 1;
  ecb->WriteClient(ecb->ConnID, text, &size, 0);
  return HSE_STATUS_SUCCESS;
}
