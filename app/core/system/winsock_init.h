// The start-up guard for the socket library, created once by main before any
// socket is opened and kept until the program ends.
#pragma once

class WinsockInit {
public:
    // Ignores SIGPIPE for the whole process, so that writing to a socket whose
    // peer has gone fails with EPIPE instead of killing the program.
    WinsockInit();
    ~WinsockInit();

    WinsockInit(const WinsockInit&) = delete;
    WinsockInit& operator=(const WinsockInit&) = delete;

    // 0 when the socket library is ready, otherwise the errno of the failure.
    int result() const { return result_; }

private:
    const int result_;
};
