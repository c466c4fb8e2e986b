// AudioReceiverServer: the audio port. Reads like ReceiverServer but has no
// decoder (video packets arriving here are dropped) and announces its
// connections to the hub as audio connections.
#pragma once

#include <string>
#include <vector>

#include "server/receiver_server.h"

class AudioReceiverServer : public ReceiverServer {
public:
    AudioReceiverServer(const std::string& key, AsyncReactor* reactor, StreamManager* hub,
                        const std::vector<StreamAudioSink*>& audioSinks);
    ~AudioReceiverServer() override;

    void OnAccept(std::unique_ptr<AsyncSocket> socket) override;
};
