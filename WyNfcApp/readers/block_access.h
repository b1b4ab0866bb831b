#pragma once

#include "platform/bytes.h"
#include "platform/nfc_tag.h"

#include <optional>
#include <string>

namespace wynfc {

// A driver's tag reached block by block for service work (dump and restore), whichever reader
// carries the commands. Every operation waits for its answer on the caller's thread; failures
// are told in the tag errors every reader reports (NfcError), so that dump and restore judge
// them alike: kTagResponseError is the tag refusing a block, kTagConnectionLost and
// kSessionTerminatedUnexpectedly mean the tag or the reader is out of reach.
class BlockAccess {
public:
    struct BlockRead {
        Bytes bytes;
        std::optional<NfcError> error;
    };

    virtual ~BlockAccess() = default;

    // The UID in the order the tag reports it.
    virtual Bytes uid() const = 0;
    // How many blocks the tag says it has (Get System Information), when the reader passes the
    // question on and the answer describes blocks of the size the images keep; nullopt
    // otherwise.
    virtual std::optional<int> blockCount() = 0;
    virtual BlockRead readBlock(int block) = 0;
    virtual std::optional<NfcError> writeBlock(int block, const Bytes& bytes) = 0;
    // Ends the work, telling the user the message as success or failure where the reader
    // shows one (the NFC session's sheet).
    virtual void finish(const std::string& message, bool success) = 0;
};

} // namespace wynfc
