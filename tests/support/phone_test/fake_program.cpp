#include "support/phone_test/fake_program.h"

#include "support/phone/command_client.h"

namespace zucam::phone::test {

namespace {
constexpr std::chrono::milliseconds kWait{5000};
}

FakeProgram::~FakeProgram() { finishOpening(); }

std::string FakeProgram::helloReply(bool withAudio) const {
    Json::Value data(Json::objectValue);
    data["port"] = video_.port();
    data["key"] = kKey;
    data["bite_rate"] = 4;
    if (withAudio) data["audio_port"] = audio_.port();
    Json::Value reply(Json::objectValue);
    reply["type"] = 0;
    reply["version"] = "1.0";
    reply["data"] = data;
    return CompactJson(reply);
}

void FakeProgram::open(bool withAudio, std::optional<std::string> reply) {
    const std::string answer = reply ? *reply : helloReply(withAudio);
    opening_ = std::thread([this, withAudio, answer] {
        commandPeer_ = command_.accept(kWait);
        if (!commandPeer_) return;
        const auto request = commandPeer_->readFrame(kWait);
        if (!request) return;
        hello_ = ParseJson(*request);
        commandPeer_->writeFrame(answer);
        const auto answered = ParseJson(answer);
        if (!answered || !CommandClient::ParseHelloReply(*answered, nullptr)) return;
        videoPeer_ = video_.accept(kWait);
        if (withAudio) audioPeer_ = audio_.accept(kWait);
    });
}

void FakeProgram::finishOpening() {
    if (opening_.joinable()) opening_.join();
}

}  // namespace zucam::phone::test
