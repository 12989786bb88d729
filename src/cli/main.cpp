#include <cstdio>

#include "server/version.h"

int main() {
  std::printf("Morlak r%d.%d.%d (build %d)\n", morlak::kVersionMajor, morlak::kVersionMinor,
              morlak::kVersionRelease, morlak::kBuildNumber);
  return 0;
}
