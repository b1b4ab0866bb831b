#include "platform/linux/pcsc/pcsc_storage_card.h"

#include <algorithm>
#include <array>
#include <bit>

namespace wynfc::pcsc {
namespace {

constexpr std::array<std::uint8_t, 8> kStorageCardPrefix{0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06};

// The standard byte of a storage card's ATR: the standard and how far up its layers the reader
// goes.
constexpr std::uint8_t kIso14443AToLayer3 = 0x03;
constexpr std::uint8_t kIso15693ToLayer3 = 0x0B;
constexpr std::uint8_t kIso15693ToLayer4 = 0x0C;
constexpr std::uint8_t kFeliCa = 0x11;

// The historical bytes of an ATR, or nothing when the ATR does not hold them where its
// format byte says.
std::optional<Bytes> historicalBytes(const Bytes& atr) {
    if (atr.size() < 2 || (atr[0] != 0x3B && atr[0] != 0x3F)) {
        return std::nullopt;
    }
    const int historicalCount = atr[1] & 0x0F;
    std::size_t index = 1;
    std::uint8_t indicator = atr[1];
    // Each interface byte group: TA, TB, TC present per bit, TD chains to the next group.
    while (true) {
        const int present = (indicator >> 4) & 0x0F;
        std::size_t next = index + 1;
        next += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(present & 0x07)));
        if ((present & 0x08) == 0) {
            index = next;
            break;
        }
        if (next >= atr.size()) {
            return std::nullopt;
        }
        indicator = atr[next];
        index = next;
    }
    if (index + historicalCount > atr.size()) {
        return std::nullopt;
    }
    return Bytes(atr.begin() + static_cast<long>(index),
                 atr.begin() + static_cast<long>(index) + historicalCount);
}

} // namespace

CardKind classifyAtr(const Bytes& atr) {
    const auto historical = historicalBytes(atr);
    if (!historical) {
        return {};
    }
    if (historical->size() < kStorageCardPrefix.size() + 3 ||
        !std::equal(kStorageCardPrefix.begin(), kStorageCardPrefix.end(), historical->begin())) {
        // A processor card answers ISO 7816-4 commands itself.
        return {TagKind::Iso7816, MifareFamily::Unknown};
    }
    const std::uint8_t standard = (*historical)[kStorageCardPrefix.size()];
    const int cardName =
        ((*historical)[kStorageCardPrefix.size() + 1] << 8) | (*historical)[kStorageCardPrefix.size() + 2];
    switch (standard) {
    case kIso15693ToLayer3:
    case kIso15693ToLayer4:
        return {TagKind::Iso15693, MifareFamily::Unknown};
    case kFeliCa:
        return {TagKind::FeliCa, MifareFamily::Unknown};
    case kIso14443AToLayer3:
        // Card names 0x0003 and 0x003A are the Ultralight family; 0x0038..0x0039 Plus.
        if (cardName == 0x0003 || cardName == 0x003A) {
            return {TagKind::Mifare, MifareFamily::Ultralight};
        }
        if (cardName == 0x0038 || cardName == 0x0039) {
            return {TagKind::Mifare, MifareFamily::Plus};
        }
        return {TagKind::Mifare, MifareFamily::Unknown};
    default:
        return {TagKind::Other, MifareFamily::Unknown};
    }
}

Bytes getUidCommand() {
    return {0xFF, 0xCA, 0x00, 0x00, 0x00};
}

Bytes readBinaryCommand(int block) {
    return {0xFF, 0xB0, static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block), 0x04};
}

Bytes updateBinaryCommand(int block, const Bytes& dataBlock) {
    Bytes command(5 + dataBlock.size());
    command[0] = 0xFF;
    command[1] = 0xD6;
    command[2] = static_cast<std::uint8_t>(block >> 8);
    command[3] = static_cast<std::uint8_t>(block);
    command[4] = static_cast<std::uint8_t>(dataBlock.size());
    std::copy(dataBlock.begin(), dataBlock.end(), command.begin() + 5);
    return command;
}

Bytes startTransparentSessionCommand() {
    return {0xFF, 0xC2, 0x00, 0x00, 0x02, 0x81, 0x00};
}

Bytes endTransparentSessionCommand() {
    return {0xFF, 0xC2, 0x00, 0x00, 0x02, 0x82, 0x00};
}

Bytes transceiveCommand(const Bytes& frame) {
    Bytes command(7 + frame.size());
    command[0] = 0xFF;
    command[1] = 0xC2;
    command[2] = 0x00;
    command[3] = 0x01;
    command[4] = static_cast<std::uint8_t>(frame.size() + 2);
    command[5] = 0x95; // transceive
    command[6] = static_cast<std::uint8_t>(frame.size());
    std::copy(frame.begin(), frame.end(), command.begin() + 7);
    return command;
}

std::optional<Bytes> transceivedAnswer(const Bytes& responseData) {
    bool passedOn = false;
    std::optional<Bytes> answer;
    // Simple BER-TLV objects, one-byte tags and lengths below 0x80 (the reader's answers are short).
    for (std::size_t at = 0; at + 2 <= responseData.size();) {
        const std::uint8_t tag = responseData[at];
        const std::size_t length = responseData[at + 1];
        if (length >= 0x80 || at + 2 + length > responseData.size()) {
            return std::nullopt;
        }
        const auto value = responseData.begin() + static_cast<std::ptrdiff_t>(at + 2);
        if (tag == 0xC0) {
            // Generic error status: a byte naming the data object at fault, then SW1 SW2.
            passedOn = length == 3 && value[1] == 0x90 && value[2] == 0x00;
        } else if (tag == 0x97) {
            answer = Bytes(value, value + static_cast<std::ptrdiff_t>(length));
        }
        at += 2 + length;
    }
    return passedOn ? answer : std::nullopt;
}

Bytes systemInfoRequest() {
    return {kRequestFlagHighDataRate, 0x2B};
}

std::optional<TagSystemInfo> parseSystemInfoAnswer(const Bytes& answer) {
    // Flags (bit 0: error), information flags, UID (8), then DSFID, AFI, memory size (number
    // of blocks - 1, block size - 1 in its low five bits) and IC reference, each when its
    // information flag is set.
    if (answer.size() < 10 || (answer[0] & 0x01) != 0) {
        return std::nullopt;
    }
    const std::uint8_t present = answer[1];
    std::size_t at = 10;
    TagSystemInfo info;
    const auto take = [&](std::size_t count) -> const std::uint8_t* {
        if (at + count > answer.size()) {
            return nullptr;
        }
        const std::uint8_t* field = answer.data() + at;
        at += count;
        return field;
    };
    if ((present & 0x01) != 0) {
        const auto* field = take(1);
        if (field == nullptr) {
            return std::nullopt;
        }
        info.dsfid = field[0];
    }
    if ((present & 0x02) != 0) {
        const auto* field = take(1);
        if (field == nullptr) {
            return std::nullopt;
        }
        info.afi = field[0];
    }
    if ((present & 0x04) != 0) {
        const auto* field = take(2);
        if (field == nullptr) {
            return std::nullopt;
        }
        info.blockCount = field[0] + 1;
        info.blockSize = (field[1] & 0x1F) + 1;
    }
    if ((present & 0x08) != 0) {
        const auto* field = take(1);
        if (field == nullptr) {
            return std::nullopt;
        }
        info.icReference = field[0];
    }
    return at == answer.size() ? std::optional(info) : std::nullopt;
}

std::optional<NfcError> statusWordError(const Bytes& response) {
    if (response.size() < 2) {
        return NfcError{NfcError::kTagResponseError, "The reader answered without a status word"};
    }
    const std::uint8_t sw1 = response[response.size() - 2];
    const std::uint8_t sw2 = response[response.size() - 1];
    if (sw1 == 0x90 && sw2 == 0x00) {
        return std::nullopt;
    }
    return NfcError{NfcError::kTagResponseError, "Tag response error"};
}

} // namespace wynfc::pcsc
