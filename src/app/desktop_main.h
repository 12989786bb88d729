// The desktop front end's entry point, free of Qt so the program's main can call it.
#pragma once

#include "server/server_core.h"

namespace morlak {

// Runs the main window until the user exits; returns the process exit code.
int RunDesktop(int argc, char** argv, const CoreOptions& options);

}  // namespace morlak
