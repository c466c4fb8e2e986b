// One run of a driver tool (devcon, regsvr32) from its command text, the way
// the installation functions run them: the text is split into the program
// and its arguments as a shell would (double quotes group, backslashes are
// kept), the program started, its standard input closed, and the run waited
// for up to a time limit; a run past the limit is killed.
#pragma once

#include <QByteArray>
#include <QString>

// How long a synchronous tool run may take.
constexpr int kDriverToolTimeoutMs = 30000;

struct DriverToolRun {
    bool started = false;   // the program could be started at all
    bool finished = false;  // it ended by itself within the limit
    bool crashed = false;   // it ended through a signal
    int exitCode = -1;      // meaningful when finished and not crashed
    QByteArray standardOutput;
    QByteArray standardError;

    // Ended by itself with one of the given exit codes.
    bool exitedWith(int code) const { return finished && !crashed && exitCode == code; }
};

// An empty command, or one whose program cannot be started, gives a run with
// started false. Blocks the calling thread; any thread.
DriverToolRun RunDriverTool(const QString& command, int timeoutMs = kDriverToolTimeoutMs);
