// The probe writer (camera_queue_writer_probe) run by a test: starts it,
// waits for the lines it prints, and kills it if the test ends first.
#pragma once

#include <QProcess>
#include <QStringList>

#include <string>

class WriterProbeProcess {
public:
    explicit WriterProbeProcess(const QStringList& arguments);
    ~WriterProbeProcess();
    WriterProbeProcess(const WriterProbeProcess&) = delete;
    WriterProbeProcess& operator=(const WriterProbeProcess&) = delete;

    // Waits (up to 20 s) for a line starting with prefix; false when the
    // probe ended or timed out first.
    bool WaitForLine(const std::string& prefix);
    // Closes the probe's stdin (a --hold probe then closes its queue).
    void Release();
    // Ends it the hard way, as a crash would.
    void Kill();
    // Waits for the exit; the exit code, or -1 on a crash or time-out.
    int WaitForExit();

private:
    QProcess process_;
    QByteArray pending_;
};
