#pragma once

#include "platform/sim/virtual_tag.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace wynfc::test {

// An ISO 15693 tag as a contactless reader shows it to the PC/SC daemon, put into the
// virtual reader driver (vpcd) over its socket: every message is a two-byte big-endian
// length and its payload; one byte is a control (0 power off, 1 power on, 2 reset, 4 send
// the ATR), anything longer a command to answer.
//
// It answers the storage-card commands from a VirtualTag: FF CA 00 00 00 (the UID), FF B0
// (read one block), FF D6 (write one block), and, as readers with a transparent session do,
// FF C2 (start and end the session; a Get System Information frame passed to the tag). A
// write-protected block answers 63 00, a block beyond the tag 6A 82, anything else 6D 00. A tag that leaves
// the field (VirtualTag's leaveFieldAfter) takes the card out of the reader in the middle of that command:
// the socket closes without an answer.
class VirtualPcscCard {
public:
    // The ATR of a storage card holding an ISO 15693 tag.
    static Bytes iso15693Atr();
    // A processor card's ATR (no storage-card historical bytes).
    static Bytes processorCardAtr();

    explicit VirtualPcscCard(std::shared_ptr<VirtualTag> tag, Bytes atr = iso15693Atr());
    ~VirtualPcscCard();
    VirtualPcscCard(const VirtualPcscCard&) = delete;
    VirtualPcscCard& operator=(const VirtualPcscCard&) = delete;

    // Puts the card into the reader slot that listens on this port; throws when the slot
    // cannot be reached.
    void insert(int port);
    // Takes the card out (closes its socket); nothing when it is out already.
    void remove();
    // Waits until the card has left the reader by itself (a fault) or was removed.
    bool waitRemoved(std::chrono::milliseconds limit);

    const std::shared_ptr<VirtualTag>& tag() const { return mTag; }
    // A reader without the transparent session answers its commands 6A 81 (not supported).
    void offerTransparentSession(bool offered);
    // The commands received so far, and how many power-off and reset controls.
    std::vector<Bytes> commands() const;
    int powerCycles() const;

private:
    void serve(int socket);
    Bytes answer(const Bytes& command, bool& leave);
    Bytes transparentAnswer(const Bytes& command);

    const std::shared_ptr<VirtualTag> mTag;
    const Bytes mAtr;

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    int mSocket = -1;
    bool mInserted = false;
    std::vector<Bytes> mCommands;
    int mPowerCycles = 0;
    bool mTransparentSession = true;
    std::thread mThread;
};

} // namespace wynfc::test
