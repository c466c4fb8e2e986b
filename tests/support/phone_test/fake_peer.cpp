#include "support/phone_test/fake_peer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <thread>

namespace zucam::phone::test {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

uint32_t ReadBigEndian32(std::string_view fourBytes) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(fourBytes.at(i));
    return value;
}

FakePeer::FakePeer(UniqueFd socket) : socket_(std::move(socket)) {}

std::optional<std::string> FakePeer::readExact(std::size_t size, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string bytes(size, '\0');
    std::size_t have = 0;
    while (have < size) {
        pollfd entry{socket_.get(), POLLIN, 0};
        if (::poll(&entry, 1, msLeft(deadline)) != 1) return std::nullopt;
        const ssize_t got = ::recv(socket_.get(), bytes.data() + have, size - have, 0);
        if (got <= 0) return std::nullopt;
        have += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::optional<std::string> FakePeer::readFrame(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const auto header = readExact(4, timeout);
    if (!header) return std::nullopt;
    return readExact(ReadBigEndian32(*header), milliseconds(msLeft(deadline)));
}

std::optional<ReceivedPacket> FakePeer::readMediaPacket(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const auto head = readExact(8, timeout);
    if (!head) return std::nullopt;
    ReceivedPacket packet;
    packet.type = ReadBigEndian32(head->substr(0, 4));
    const uint32_t expandBytes = ReadBigEndian32(head->substr(4, 4));
    const auto expand = readExact(expandBytes, milliseconds(msLeft(deadline)));
    if (!expand) return std::nullopt;
    for (std::size_t i = 0; i + 4 <= expand->size(); i += 4)
        packet.words.push_back(ReadBigEndian32(expand->substr(i, 4)));
    const auto length = readExact(4, milliseconds(msLeft(deadline)));
    if (!length) return std::nullopt;
    auto payload = readExact(ReadBigEndian32(*length), milliseconds(msLeft(deadline)));
    if (!payload) return std::nullopt;
    packet.payload = std::move(*payload);
    return packet;
}

bool FakePeer::staysQuiet(milliseconds quiet) {
    pollfd entry{socket_.get(), POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(quiet.count())) == 0;
}

bool FakePeer::seesClose(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        pollfd entry{socket_.get(), POLLIN, 0};
        if (::poll(&entry, 1, msLeft(deadline)) != 1) return false;
        const ssize_t got = ::recv(socket_.get(), buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) return true;
        if (got < 0) return false;
    }
}

bool FakePeer::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool FakePeer::writeByteByByte(std::string_view bytes, std::chrono::microseconds gap) {
    for (const char byte : bytes) {
        if (!write(std::string_view(&byte, 1))) return false;
        std::this_thread::sleep_for(gap);
    }
    return true;
}

bool FakePeer::writeFrame(std::string_view payload) {
    const auto size = static_cast<uint32_t>(payload.size());
    std::string frame{static_cast<char>(size >> 24), static_cast<char>((size >> 16) & 0xff),
                      static_cast<char>((size >> 8) & 0xff), static_cast<char>(size & 0xff)};
    frame.append(payload);
    return write(frame);
}

}  // namespace zucam::phone::test
