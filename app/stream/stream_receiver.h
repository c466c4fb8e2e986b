// The interface the hub holds for the current phone transport, with the event
// codes that connections report to the hub and the transport numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class StreamAudioSink;
class StreamVideoSink;

// The transport given to StreamManager::Start.
enum StreamTransport : int {
    kStreamTransportWifi = 0,     // StreamServer, base port 10080
    kStreamTransportAndroid = 1,  // StreamAdbServer, base port 11080
    kStreamTransportIos = 2,      // StreamIProxyConnection, phone port 10080
};

// Events passed to StreamManager::HandleEvent.
enum StreamEvent : int {
    kStreamEventCommandConnected = 1,  // a command connection was accepted and waits for activation
    kStreamEventStreamConnected = 2,   // a video connection was accepted
    kStreamEventAudioConnected = 3,    // an audio connection was accepted
    kStreamEventConnectionLost = 4,    // a connection closed, broke, failed to parse or had a wrong key
    kStreamEventReceiverClosed = 5,    // the receiver closed all its connections
};

// Every operation runs on the hub's thread.
class StreamReceiver {
public:
    virtual ~StreamReceiver() = default;
    virtual bool Start() = 0;
    virtual void ConnectDevice(const std::string& /*serial*/) {}
    virtual void HandleEvent(int event) = 0;
    virtual void Close() = 0;
    virtual bool IsIProxy() { return false; }
    virtual void SendCommand(const std::string& json) = 0;
    virtual bool OpenVideoReceiver(bool udp, uint16_t port, const std::string& key, const std::string& hwDecoder,
                                   const std::vector<StreamAudioSink*>& audioSinks,
                                   const std::vector<StreamVideoSink*>& videoSinks) = 0;
    virtual uint16_t GetVideoPort() = 0;
    virtual bool OpenAudioReceiver(bool /*udp*/, uint16_t /*port*/, const std::string& /*key*/,
                                   const std::vector<StreamAudioSink*>& /*audioSinks*/) {
        return false;
    }
    virtual uint16_t GetAudioPort() { return 0; }
    // Whether a report tagged with this connection id (see
    // StreamManager::HandleEvent) comes from a connection the receiver still
    // holds. Receivers that do not tag their reports keep the default.
    virtual bool IsCurrentConnection(uint64_t /*connection*/) { return true; }

    // The device name shown to phones (UTF-8); the discovery beacon reads it.
    std::string name;
};
