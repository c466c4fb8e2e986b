#include "server/audio_receiver_server.h"

#include <cstdio>

#include "socket/async_socket.h"

AudioReceiverServer::AudioReceiverServer(const std::string& key, AsyncReactor* reactor, StreamManager* hub,
                                         const std::vector<StreamAudioSink*>& audioSinks)
    : ReceiverServer(key, std::string(), reactor, hub, audioSinks, {}) {}

AudioReceiverServer::~AudioReceiverServer() {
    // Most derived: out of the reactor before any part goes.
    Shutdown();
}

void AudioReceiverServer::OnAccept(std::unique_ptr<AsyncSocket> socket) {
    fprintf(stderr, "---------------audio stream: connection come in\n");
    AdoptMediaSocket(socket);
    NotifyHub(kStreamEventAudioConnected);
}
