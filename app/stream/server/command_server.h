// CommandServer: the phone's command channel. Reads length-prefixed JSON
// frames from its one connection and hands each text, in arrival order, to
// the hub; queues the hub's replies as frames on the same connection.
//
// Threads: OnAccept and OnRead on the reactor thread (the frame buffer is
// used there only); SendCommand and the rest on the hub's thread.
#pragma once

#include <memory>
#include <string>

#include "server/single_connection_server.h"

class CommandFrameBuffer;

class CommandServer : public SingleConnectionServer {
public:
    CommandServer(AsyncReactor* reactor, StreamManager* hub);
    ~CommandServer() override;

    // Hub thread. Frames json and queues it; false when the connection is
    // missing or could not take the whole frame.
    bool SendCommand(const std::string& json);

    void OnAccept(std::unique_ptr<AsyncSocket> socket) override;
    void OnRead(const char* data, int length) override;

protected:
    // Reactor thread: one command text from the phone, in arrival order.
    // Hands it to the hub; tests replace it to see the texts.
    virtual void DeliverCommand(const std::string& text);

private:
    std::unique_ptr<CommandFrameBuffer> frameBuffer_;  // reactor thread only
};
