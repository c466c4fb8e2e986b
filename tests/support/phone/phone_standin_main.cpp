// phone_standin: the phone stand-in as a program, for manual runs and for
// tests that want a separate process.
//   phone_standin --listen-beacon [--bind ADDR] [--timeout MS]
//       prints the first well-formed beacon's JSON and exits 0 (1: none came).
//   phone_standin --connect HOST:PORT [--name N] [--frames K] [--audio-blocks M]
//                 [--fps F] [--size WxH] [--timeout MS]
//       hello, media connections, K frames at F fps and M audio blocks of
//       40 ms side by side, then disconnect; prints what the program sent.
extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "support/phone/phone_standin.h"

namespace {

using namespace zucam::phone;

constexpr int kUsageError = 2;

int usage() {
    std::cerr << "usage: phone_standin --listen-beacon [--bind ADDR] [--timeout MS]\n"
                 "       phone_standin --connect HOST:PORT [--name N] [--frames K] [--audio-blocks M]\n"
                 "                     [--fps F] [--size WxH] [--timeout MS]\n";
    return kUsageError;
}

bool parseInt(const std::string& text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 1'000'000'000) return false;
    out = static_cast<int>(value);
    return true;
}

struct Arguments {
    bool listenBeacon = false;
    std::string connectTo;
    std::string bindAddress = "0.0.0.0";
    std::string name = "ZuCam stand-in";
    int timeoutMs = 5000;
    int frames = 30;
    int audioBlocks = 25;
    int fps = 30;
    int width = 320;
    int height = 240;
};

bool parseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (option == "--listen-beacon") {
            arguments.listenBeacon = true;
        } else if (option == "--connect") {
            if (!value(arguments.connectTo)) return false;
        } else if (option == "--bind") {
            if (!value(arguments.bindAddress)) return false;
        } else if (option == "--name") {
            if (!value(arguments.name)) return false;
        } else if (option == "--timeout") {
            if (!value(text) || !parseInt(text, arguments.timeoutMs)) return false;
        } else if (option == "--frames") {
            if (!value(text) || !parseInt(text, arguments.frames)) return false;
        } else if (option == "--audio-blocks") {
            if (!value(text) || !parseInt(text, arguments.audioBlocks)) return false;
        } else if (option == "--fps") {
            if (!value(text) || !parseInt(text, arguments.fps) || arguments.fps == 0) return false;
        } else if (option == "--size") {
            if (!value(text)) return false;
            const auto x = text.find('x');
            if (x == std::string::npos || !parseInt(text.substr(0, x), arguments.width) ||
                !parseInt(text.substr(x + 1), arguments.height))
                return false;
        } else {
            return false;
        }
    }
    return arguments.listenBeacon != !arguments.connectTo.empty();
}

int listenBeacon(const Arguments& arguments) {
    BeaconListener listener;
    if (!listener.bind(arguments.bindAddress)) {
        std::cerr << "phone_standin: " << listener.lastError() << "\n";
        return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(arguments.timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const std::optional<BeaconDatagram> datagram =
            listener.waitForDatagram(std::max(left, std::chrono::milliseconds(0)));
        if (!datagram) {
            std::cerr << "phone_standin: no beacon within " << arguments.timeoutMs << " ms\n";
            return 1;
        }
        if (!datagram->wellFormed()) {
            std::cerr << "phone_standin: skipped a datagram from " << datagram->senderAddress << ":"
                      << datagram->senderPort << " (" << datagram->problem << ")\n";
            continue;
        }
        std::cout << CompactJson(*datagram->json) << std::endl;
        std::cerr << "from " << datagram->senderAddress << ":" << datagram->senderPort << " to "
                  << datagram->localAddress << "\n";
        return 0;
    }
}

// Prints every message the program sent without being asked, until none
// comes for a moment.
void printUnsolicited(CommandClient& command) {
    while (const auto message = command.readMessage(Millis(50)))
        std::cout << "message " << CompactJson(*message) << "\n";
}

int connectSession(const Arguments& arguments) {
    const auto colon = arguments.connectTo.rfind(':');
    int port = 0;
    if (colon == std::string::npos || !parseInt(arguments.connectTo.substr(colon + 1), port) || port < 1 ||
        port > 65535)
        return usage();

    StandInOptions options;
    options.host = arguments.connectTo.substr(0, colon);
    options.timeout = Millis(arguments.timeoutMs);
    options.paced = true;
    PhoneStandIn phone(options);
    if (!phone.connectWifi(static_cast<uint16_t>(port), arguments.name, arguments.fps, arguments.width,
                           arguments.height)) {
        std::cerr << "phone_standin: " << phone.lastError() << "\n";
        return 1;
    }
    std::cout << "hello " << CompactJson(phone.helloReply()->message) << "\n";

    bool videoOk = true;
    bool audioOk = true;
    std::thread audio;
    if (phone.audio() && arguments.audioBlocks > 0)
        audio = std::thread([&] { audioOk = phone.streamAudio(arguments.audioBlocks); });
    videoOk = phone.streamVideo(arguments.frames);
    if (audio.joinable()) audio.join();
    std::cout << "video " << phone.framesSent() << " frames\n";
    std::cout << "audio " << phone.audioBlocksSent() << " blocks" << (phone.audio() ? "" : " (no audio port)") << "\n";
    if (!videoOk || !audioOk) std::cerr << "phone_standin: " << phone.lastError() << "\n";

    printUnsolicited(phone.command());
    const bool disconnected = phone.disconnect();
    if (phone.disconnectReply()) std::cout << "disconnect " << CompactJson(*phone.disconnectReply()) << "\n";
    if (!disconnected) std::cerr << "phone_standin: " << phone.lastError() << "\n";
    std::cout << (disconnected ? "closed" : "not closed") << std::endl;
    return videoOk && audioOk && disconnected ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_WARNING);
    Arguments arguments;
    if (!parseArguments(argc, argv, arguments)) return usage();
    return arguments.listenBeacon ? listenBeacon(arguments) : connectSession(arguments);
}
