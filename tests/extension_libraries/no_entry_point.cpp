// Test extension library that exports GetExtensionVersion but no HttpExtensionProc.
#include "gateways/extension_interface.h"

extern "C" BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_MAKE_VERSION(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  return TRUE;
}
