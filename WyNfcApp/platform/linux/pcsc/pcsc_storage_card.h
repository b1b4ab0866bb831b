#pragma once

#include "platform/nfc_tag.h"

#include <optional>

namespace wynfc::pcsc {

// What a contactless reader says about the card in its field, read from the card's ATR.
// Storage cards (memory tags without a processor) get an ATR made up by the reader: its
// historical bytes are 80 4F 0C, the registered application provider A0 00 00 03 06, a
// byte naming the card's standard and two bytes naming the card. Any other ATR is a
// processor card's own (ISO 7816-4 over the air).
struct CardKind {
    TagKind kind = TagKind::Other;
    MifareFamily mifareFamily = MifareFamily::Unknown;
};
CardKind classifyAtr(const Bytes& atr);

// The storage-card commands the reader translates into the tag's own.
Bytes getUidCommand();                                        // FF CA 00 00 00
Bytes readBinaryCommand(int block);                           // FF B0 <block> 04
Bytes updateBinaryCommand(int block, const Bytes& dataBlock); // FF D6 <block> 04 <4 bytes>

// Why a response is no good, or nothing when it ends with 90 00. A response too short to
// hold a status word is an error, never data.
std::optional<NfcError> statusWordError(const Bytes& response);

} // namespace wynfc::pcsc
