#include "support/phone/command_client.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cctype>
#include <exception>
#include <memory>

namespace zucam::phone {

namespace {

using Clock = std::chrono::steady_clock;

Millis remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
    return left.count() > 0 ? left : Millis(0);
}

// A port member: an integer (not a string, not a fraction) in 1..65535.
std::optional<uint16_t> portMember(const Json::Value& data, const char* name, bool zeroAllowed = false) {
    const Json::Value& value = data[name];
    if (value.type() != Json::intValue && value.type() != Json::uintValue) return std::nullopt;
    if (!value.isInt64()) return std::nullopt;
    const Json::Int64 port = value.asInt64();
    if (port < (zeroAllowed ? 0 : 1) || port > 65535) return std::nullopt;
    return static_cast<uint16_t>(port);
}

}  // namespace

Json::Value MakeCommand(int type, const Json::Value& data) {
    Json::Value message(Json::objectValue);
    message["version"] = "1.0";
    message["type"] = type;
    message["data"] = data;
    return message;
}

std::string CompactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

std::optional<Json::Value> ParseJson(std::string_view text, std::string* error) {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string problem;
    bool parsed = false;
    try {  // jsoncpp throws on nesting past its stack limit
        parsed = reader->parse(text.data(), text.data() + text.size(), &value, &problem);
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (!parsed) {
        if (error) *error = problem.empty() ? "not JSON" : problem;
        return std::nullopt;
    }
    return value;
}

bool LooksLikeBracedUuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = (i == 9 || i == 14 || i == 19 || i == 24);
        const char c = text[i];
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool CommandClient::fail(const std::string& what) {
    lastError_ = what;
    return false;
}

bool CommandClient::connect(const std::string& host, uint16_t port, Millis timeout) {
    frames_ = FrameCodec();
    peerClosed_ = false;
    if (!stream_.connect(host, port, timeout)) return fail(stream_.lastError());
    lastError_.clear();
    return true;
}

bool CommandClient::sendMessage(const Json::Value& message, Millis timeout) {
    return sendFrame(CompactJson(message), timeout);
}

bool CommandClient::sendCommand(int type, const Json::Value& data, Millis timeout) {
    return sendMessage(MakeCommand(type, data), timeout);
}

bool CommandClient::sendFrame(std::string_view text, Millis timeout) {
    return sendRawBytes(FrameCodec::encode(text), timeout);
}

bool CommandClient::sendRawBytes(std::string_view bytes, Millis timeout) {
    if (!stream_.sendAll(bytes, timeout)) return fail(stream_.lastError());
    return true;
}

std::optional<std::string> CommandClient::readFrame(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto frame = frames_.next()) return frame;
        if (peerClosed_) {
            fail(frames_.pendingBytes() ? "channel closed inside a frame" : "channel closed");
            return std::nullopt;
        }
        std::string chunk;
        switch (stream_.readSome(chunk, 16 * 1024, remaining(deadline))) {
        case ReadStatus::Data: frames_.feed(chunk); break;
        case ReadStatus::Closed: peerClosed_ = true; break;
        case ReadStatus::TimedOut: fail("no whole frame within the time-out"); return std::nullopt;
        case ReadStatus::Failed: fail(stream_.lastError()); return std::nullopt;
        }
    }
}

std::optional<Json::Value> CommandClient::readMessage(Millis timeout) {
    const std::optional<std::string> frame = readFrame(timeout);
    if (!frame) return std::nullopt;
    std::string error;
    auto message = ParseJson(*frame, &error);
    if (!message) fail("frame is not JSON (" + error + "): " + frame->substr(0, 200));
    return message;
}

bool CommandClient::waitClosed(Millis timeout) {
    if (peerClosed_) return true;
    std::string received;
    const bool closed = stream_.waitClosed(timeout, &received);
    frames_.feed(received);
    peerClosed_ = closed;
    return closed;
}

std::optional<HelloReply> CommandClient::hello(const std::string& name, int fps, int width, int height,
                                               Millis timeout) {
    Json::Value data(Json::objectValue);
    data["name"] = name;
    data["fps"] = fps;
    data["width"] = width;
    data["height"] = height;
    return helloWithData(data, timeout);
}

std::optional<HelloReply> CommandClient::helloWithData(const Json::Value& data, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    if (!sendCommand(CommandType::Hello, data, timeout)) return std::nullopt;
    const std::optional<Json::Value> reply = readMessage(remaining(deadline));
    if (!reply) return std::nullopt;
    std::string error;
    auto parsed = ParseHelloReply(*reply, &error);
    if (!parsed) fail(error);
    return parsed;
}

std::optional<HelloReply> CommandClient::ParseHelloReply(const Json::Value& message, std::string* error) {
    const auto reject = [&](const std::string& why) -> std::optional<HelloReply> {
        if (error) *error = "hello reply " + why + ": " + CompactJson(message);
        return std::nullopt;
    };
    if (!message.isObject()) return reject("is not an object");
    if (!message["type"].isInt() || message["type"].asInt() != CommandType::Hello) return reject("has no type 0");
    if (message["version"] != "1.0") return reject("has no version 1.0");
    const Json::Value& data = message["data"];
    if (!data.isObject()) return reject("has no data object");

    HelloReply reply;
    reply.message = message;
    // 0 over iOS USB, where the program connects out to the phone's port.
    const auto videoPort = portMember(data, "port", true);
    if (!videoPort) return reject("has no valid port");
    reply.videoPort = *videoPort;
    if (!data["key"].isString()) return reject("has no key text");
    reply.key = data["key"].asString();
    if (data.isMember("audio_port")) {
        reply.audioPort = portMember(data, "audio_port");
        if (!reply.audioPort) return reject("has an invalid audio_port");
    }
    if (data.isMember("udpPort")) {
        reply.udpPort = portMember(data, "udpPort");
        if (!reply.udpPort) return reject("has an invalid udpPort");
    }
    if (data.isMember("bite_rate")) {
        if (!data["bite_rate"].isInt()) return reject("has a non-integer bite_rate");
        reply.biteRate = data["bite_rate"].asInt();
    }
    return reply;
}

}  // namespace zucam::phone
