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

// A command to the tag itself, passed through by readers that offer the transparent session
// of the PC/SC storage-card commands: start the session, exchange a frame (the reader adds and
// checks the CRC), end the session.
Bytes startTransparentSessionCommand();      // FF C2 00 00 02 81 00
Bytes endTransparentSessionCommand();        // FF C2 00 00 02 82 00
Bytes transceiveCommand(const Bytes& frame); // FF C2 00 01 Lc 95 <length> <frame>
// The tag's answer in a transparent exchange's response data (the 97 object), when the
// reader's generic status object (C0) says it passed the frame on and got one.
std::optional<Bytes> transceivedAnswer(const Bytes& responseData);

// The ISO 15693 Get System Information request (high data rate, not addressed), and what
// its answer says; nullopt for an error answer or one whose fields do not fit its flags.
Bytes systemInfoRequest(); // 02 2B
std::optional<TagSystemInfo> parseSystemInfoAnswer(const Bytes& answer);

// Why a response is no good, or nothing when it ends with 90 00. A response too short to
// hold a status word is an error, never data.
std::optional<NfcError> statusWordError(const Bytes& response);

} // namespace wynfc::pcsc
