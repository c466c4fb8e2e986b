// Stand-in for the maker's closed P2P library: the calls the program makes
// (init, bindPort, uninit) over one UDP socket with one receive thread.
//
// Wire form of a datagram (integers big-endian), the phone's side writes it:
//   magic "ZP2P" (u32) | message number (u32) | fragment index (u16) |
//   fragment count (u16) | fragment bytes
// A message is a chunk of the phone's byte stream that the phone keeps whole
// (one or more media packets). The library reassembles each message from its
// fragments and hands complete messages to the listener in message order;
// a message that stays incomplete is given up as lost (never delivered in
// part), so what the listener gets always starts and ends on the phone's
// message edges. The peer numbers its messages from 0 (wrapping at 2^32).
// See reassembler.h for the limits.
//
// A sender becomes the peer with its first complete message that the
// listener accepts (acceptPeer); until then each sender (at most four at a
// time, the oldest forgotten first) has a reassembly of its own, bounded to
// 4 MiB, and a datagram whose fragment header could never be taken makes no
// state at all. A sender whose message the listener refused is not heard
// again (the last 16 such senders are remembered). Once the peer is known the socket is tied to its address,
// so the system drops everyone else's datagrams before they take room in
// the receive buffer; the peer stays for the library's life.
//
// Threads: init, bindPort and uninit from one owning thread. The listener is
// called on the library's receive thread, never after uninit returns, and
// must not call uninit itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace zu {

class DataListener {
public:
    virtual ~DataListener() = default;
    // The socket is bound and the receive thread runs.
    virtual void onStarted(int /*port*/) {}
    // A sender's first complete message, before it is delivered: true makes
    // the sender the peer (the message then goes to onData), false refuses
    // the sender's message. Called on the receive thread.
    virtual bool acceptPeer(const char* /*data*/, int /*length*/) { return true; }
    // The accepted sender's address; it is the peer from now on.
    virtual void onPeer(const std::string& /*address*/, int /*port*/) {}
    // Messages given up as lost since the last report (count).
    virtual void onLost(int /*messages*/) {}
    // Datagrams dropped as foreign, malformed or over a limit since the last
    // report (count).
    virtual void onRefused(int /*datagrams*/) {}
    // One complete message, in order; data is valid for the call only.
    virtual void onData(int peer, int messageNumber, const char* data, int length) = 0;
};

class Zup2p {
public:
    // The environment variable that fixes the local UDP port the library
    // binds (for a firewall rule); unset or 0 lets the system choose.
    static constexpr const char* kPortEnvironment = "ZUP2P_PORT";

    Zup2p();
    ~Zup2p();  // uninit
    Zup2p(const Zup2p&) = delete;
    Zup2p& operator=(const Zup2p&) = delete;

    // Binds the UDP socket (port 0: ZUP2P_PORT or any free port) on all IPv4
    // addresses and starts the receive thread, which waits at most
    // pollIntervalMs at a time. False when the socket cannot be made or
    // bound or the thread cannot start; nothing is left running then. A
    // second init without uninit fails.
    bool init(DataListener* listener, int port, unsigned int pollIntervalMs);
    // The bound local UDP port, 0 before init succeeded and after uninit.
    int bindPort() const;
    // Stops and joins the receive thread and closes the socket. No listener
    // call runs after it returns. Harmless when not initialised.
    void uninit();

private:
    class Receiver;
    std::unique_ptr<Receiver> receiver_;
};

}  // namespace zu
