// The phone's side of the command channel: a TCP connection to the program's
// command port carrying length-prefixed JSON frames both ways. Besides the
// well-formed messages it sends whatever a test hands it (raw bytes, frames
// with any text) so the program's handling of bad input can be checked.
// Blocking calls, every wait bounded; one thread uses a client at a time.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <string_view>

#include "support/phone/frame_codec.h"
#include "support/phone/tcp_stream.h"

namespace zucam::phone {

// Message types of the command channel.
namespace CommandType {
constexpr int Hello = 0;
constexpr int Disconnect = 2;
constexpr int Screenshot = 4;
constexpr int Record = 5;
constexpr int DisconnectExpected = 6;
constexpr int Picture = 7;
constexpr int Sound = 8;
constexpr int NameQuery = 1001;
}  // namespace CommandType

// What the program answered to hello.
struct HelloReply {
    uint16_t videoPort = 0;
    std::optional<uint16_t> audioPort;  // only when the program opened one
    std::optional<uint16_t> udpPort;    // P2P only
    std::string key;
    std::optional<int> biteRate;        // the member is spelled "bite_rate"
    Json::Value message;                // the whole reply as received
};

// {"version":"1.0","type":type,"data":data}
Json::Value MakeCommand(int type, const Json::Value& data = Json::Value(Json::nullValue));
// Compact JSON text with UTF-8 left unescaped, as the phone writes it.
std::string CompactJson(const Json::Value& value);
// Strict parse (one root object or array, no trailing garbage, no duplicate
// keys); nullopt with the reason in error otherwise.
std::optional<Json::Value> ParseJson(std::string_view text, std::string* error = nullptr);
// "{8c1e5a7e-....}": 36 hex-and-dash characters in braces, dashes at 8-13-18-23.
bool LooksLikeBracedUuid(std::string_view text);

class CommandClient {
public:
    static constexpr Millis kDefaultTimeout{3000};

    bool connect(const std::string& host, uint16_t port, Millis timeout = kDefaultTimeout);
    bool adopt(UniqueFd socket) { return stream_.adopt(std::move(socket)); }
    bool isOpen() const { return stream_.isOpen(); }
    void close() { stream_.close(); }

    bool sendMessage(const Json::Value& message, Millis timeout = kDefaultTimeout);
    bool sendCommand(int type, const Json::Value& data = Json::Value(Json::nullValue),
                     Millis timeout = kDefaultTimeout);
    // One frame around text, whatever it holds.
    bool sendFrame(std::string_view text, Millis timeout = kDefaultTimeout);
    // Exactly these bytes, no framing.
    bool sendRawBytes(std::string_view bytes, Millis timeout = kDefaultTimeout);

    // The next frame's payload; nullopt on time-out or when the program
    // closed before a whole frame came.
    std::optional<std::string> readFrame(Millis timeout = kDefaultTimeout);
    // The next frame parsed as JSON; a frame that does not parse is consumed
    // and reported as nullopt with the reason in lastError().
    std::optional<Json::Value> readMessage(Millis timeout = kDefaultTimeout);
    // True once the program has closed the channel. Frames that arrive
    // before the close stay readable.
    bool waitClosed(Millis timeout = kDefaultTimeout);

    // Sends hello with {"name","fps","width","height"} and reads the reply.
    std::optional<HelloReply> hello(const std::string& name, int fps, int width, int height,
                                    Millis timeout = kDefaultTimeout);
    // Sends hello with data as given (extra members such as "udpPort", or
    // broken ones) and reads the reply.
    std::optional<HelloReply> helloWithData(const Json::Value& data, Millis timeout = kDefaultTimeout);
    // Checks a hello reply's shape; nullopt with the reason in error otherwise.
    static std::optional<HelloReply> ParseHelloReply(const Json::Value& message, std::string* error);

    uint16_t localPort() const { return stream_.localPort(); }
    // Bytes sent but not yet taken by the program; -1 once the connection is
    // no longer established.
    int unsentBytes() const { return stream_.unsentBytes(); }
    const std::string& lastError() const { return lastError_; }

private:
    bool fail(const std::string& what);

    TcpStream stream_;
    FrameCodec frames_;
    bool peerClosed_ = false;
    std::string lastError_;
};

}  // namespace zucam::phone
