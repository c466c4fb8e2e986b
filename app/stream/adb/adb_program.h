// Which adb the program runs, and which running adb processes are its own.
//
// The program runs its own copy of adb, kept in its data folder, so that the
// processes it may end (a stuck adb client, the adb server that its copy
// started) are told apart from every other program's adb.
#pragma once

#include <QString>

// The adb this program brings: "adb" beside the program, else "adb" on PATH;
// empty when there is none.
QString LocateAdbSource();

// Where the program's own copy lives: <data folder>/adb.
QString OwnAdbProgramPath();

// Makes sure the own copy exists and matches its source (a newer or
// different source replaces it, atomically); returns OwnAdbProgramPath().
// Without any source nothing is copied; runs then report the program missing.
QString PrepareOwnAdbProgram();

// Ends every process of this user that runs the own copy (adb itself, or
// the copy as a script through its "#!" interpreter). Repeats the search for
// processes started meanwhile, a bounded number of times, and never signals
// a process twice. Returns how many were signalled.
int TerminateOwnAdbProcesses(const QString& ownAdbPath);
