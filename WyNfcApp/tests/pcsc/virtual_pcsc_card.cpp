#include "virtual_pcsc_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace wynfc::test {
namespace {

bool receiveAll(int socket, std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        // Without it every command waits for the delayed ACK (about 40 ms each).
        const int one = 1;
        setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t got = recv(socket, data, size, 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool sendMessage(int socket, const Bytes& payload) {
    Bytes message{static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(payload.size())};
    message.insert(message.end(), payload.begin(), payload.end());
    return send(socket, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

Bytes withStatus(Bytes data, std::uint8_t sw1, std::uint8_t sw2) {
    data.push_back(sw1);
    data.push_back(sw2);
    return data;
}

Bytes statusOf(TagAnswer answer) {
    switch (answer) {
    case TagAnswer::Ok:
        return {0x90, 0x00};
    case TagAnswer::BlockOutOfRange:
        return {0x6A, 0x82};
    default:
        return {0x63, 0x00};
    }
}

} // namespace

Bytes VirtualPcscCard::iso15693Atr() {
    return {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
            0x03, 0x06, 0x0B, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x77};
}

Bytes VirtualPcscCard::processorCardAtr() {
    return {0x3B, 0x88, 0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x77, 0x81, 0x71, 0x00, 0x7E};
}

VirtualPcscCard::VirtualPcscCard(std::shared_ptr<VirtualTag> tag, Bytes atr)
    : mTag(std::move(tag)), mAtr(std::move(atr)) {}

VirtualPcscCard::~VirtualPcscCard() {
    remove();
}

void VirtualPcscCard::insert(int port) {
    remove();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("virtual card: no socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const std::string reason = std::strerror(errno);
        close(fd);
        throw std::runtime_error("virtual card: cannot reach the reader on port " + std::to_string(port) +
                                 ": " + reason);
    }
    mTag->returnToField();
    std::lock_guard lock(mMutex);
    mSocket = fd;
    mInserted = true;
    mThread = std::thread(&VirtualPcscCard::serve, this, fd);
}

void VirtualPcscCard::remove() {
    std::thread thread;
    {
        std::lock_guard lock(mMutex);
        if (mSocket >= 0) {
            // Wakes the serving thread from its receive; it closes the socket.
            shutdown(mSocket, SHUT_RDWR);
        }
        thread = std::move(mThread);
    }
    if (thread.joinable()) {
        thread.join();
    }
}

bool VirtualPcscCard::waitRemoved(std::chrono::milliseconds limit) {
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, limit, [&] { return !mInserted; });
}

std::vector<Bytes> VirtualPcscCard::commands() const {
    std::lock_guard lock(mMutex);
    return mCommands;
}

int VirtualPcscCard::powerCycles() const {
    std::lock_guard lock(mMutex);
    return mPowerCycles;
}

void VirtualPcscCard::serve(int socket) {
    while (true) {
        std::uint8_t header[2];
        if (!receiveAll(socket, header, sizeof header)) {
            break;
        }
        Bytes payload((header[0] << 8) | header[1]);
        if (!receiveAll(socket, payload.data(), payload.size())) {
            break;
        }
        if (payload.size() == 1) {
            if (payload[0] == 4 && !sendMessage(socket, mAtr)) {
                break;
            }
            if (payload[0] == 0 || payload[0] == 2) {
                std::lock_guard lock(mMutex);
                ++mPowerCycles;
            }
            continue;
        }
        {
            std::lock_guard lock(mMutex);
            mCommands.push_back(payload);
        }
        bool leave = false;
        const Bytes reply = answer(payload, leave);
        if (leave || !sendMessage(socket, reply)) {
            break;
        }
    }
    std::lock_guard lock(mMutex);
    close(socket);
    mSocket = -1;
    mInserted = false;
    mChanged.notify_all();
}

Bytes VirtualPcscCard::answer(const Bytes& command, bool& leave) {
    if (command.size() == 5 && command[0] == 0xFF && command[1] == 0xCA && command[2] == 0x00) {
        return withStatus(mTag->uid(), 0x90, 0x00);
    }
    if (command.size() == 5 && command[0] == 0xFF && command[1] == 0xB0 && command[4] == 4) {
        const auto reply = mTag->readBlocks((command[2] << 8) | command[3], 1);
        if (reply.answer == TagAnswer::Gone || reply.answer == TagAnswer::NoAnswer) {
            leave = true;
            return {};
        }
        return withStatus(reply.answer == TagAnswer::Ok ? reply.blocks.at(0) : Bytes{},
                          statusOf(reply.answer)[0], statusOf(reply.answer)[1]);
    }
    if (command.size() == 9 && command[0] == 0xFF && command[1] == 0xD6 && command[4] == 4) {
        const auto result = mTag->writeBlocks((command[2] << 8) | command[3],
                                              std::span<const std::uint8_t>(command.data() + 5, 4));
        if (result == TagAnswer::Gone || result == TagAnswer::NoAnswer) {
            leave = true;
            return {};
        }
        return statusOf(result);
    }
    if (command.size() >= 7 && command[0] == 0xFF && command[1] == 0xC2 && command[2] == 0x00) {
        return transparentAnswer(command);
    }
    return {0x6D, 0x00};
}

void VirtualPcscCard::offerTransparentSession(bool offered) {
    std::lock_guard lock(mMutex);
    mTransparentSession = offered;
}

Bytes VirtualPcscCard::transparentAnswer(const Bytes& command) {
    {
        std::lock_guard lock(mMutex);
        if (!mTransparentSession) {
            return {0x6A, 0x81};
        }
    }
    const Bytes passed{0xC0, 0x03, 0x00, 0x90, 0x00}; // generic status: done
    const Bytes objects(command.begin() + 5, command.end());
    if (command[3] == 0x00 && (objects == Bytes{0x81, 0x00} || objects == Bytes{0x82, 0x00})) {
        return withStatus(passed, 0x90, 0x00);
    }
    // Transceive (95) of Get System Information, high data rate, not addressed.
    if (command[3] == 0x01 && objects == Bytes{0x95, 0x02, 0x02, 0x2B}) {
        Bytes info{0x00, 0x0F}; // flags; DSFID, AFI, memory size and IC reference follow the UID
        info.insert(info.end(), mTag->uid().begin(), mTag->uid().end());
        info.insert(info.end(), {0x00, 0x00, static_cast<std::uint8_t>(std::min(mTag->blockCount(), 256) - 1),
                                 VirtualTag::kBlockSize - 1, 0x01});
        Bytes reply = passed;
        reply.push_back(0x97);
        reply.push_back(static_cast<std::uint8_t>(info.size()));
        reply.insert(reply.end(), info.begin(), info.end());
        return withStatus(reply, 0x90, 0x00);
    }
    return {0x6A, 0x81};
}

} // namespace wynfc::test
