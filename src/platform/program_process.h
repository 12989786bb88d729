// Starting another program as an independent process, as the restart after a data import
// does with the running executable.
#pragma once

#include <string>
#include <vector>

namespace morlak {

// Starts `program` with `args` (no shell, the environment inherited) and does not wait
// for it. The process id, or -1 with `error` set to the system's reason.
int StartProgram(const std::string& program, const std::vector<std::string>& args,
                 std::string* error = nullptr);

}  // namespace morlak
