// Version and build number compiled into the program.
#pragma once

namespace morlak {

constexpr int kVersionMajor = MORLAK_VERSION_MAJOR;
constexpr int kVersionMinor = MORLAK_VERSION_MINOR;
constexpr int kVersionRelease = MORLAK_VERSION_RELEASE;
constexpr int kBuildNumber = MORLAK_BUILD_NUMBER;

}  // namespace morlak
