// The running processes as the system lists them (/proc), and ending one.
// What a Windows process snapshot and TerminateProcess give the program.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace processes {

struct ProcessEntry {
    pid_t pid = 0;
    uid_t uid = 0;
    // The program file the process runs (symbolic links resolved). Empty
    // when the system does not tell (another user's process, a zombie). A
    // file that was replaced or removed since keeps its old path here.
    std::string executable;
    // The command line; a script started through its "#!" line shows the
    // interpreter first and the script's path second.
    std::vector<std::string> arguments;
};

// Every process but this one. A process that ends while the list is read is
// left out.
std::vector<ProcessEntry> ListProcesses();

// Ends the process at once (it cannot catch or ignore it); false when it was
// gone already or is not ours to end.
bool TerminateProcess(pid_t pid);

}  // namespace processes
