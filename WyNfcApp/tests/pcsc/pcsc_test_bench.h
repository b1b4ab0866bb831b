#pragma once

#include "platform/linux/pcsc/pcsc_tag_reader.h"
#include "virtual_pcsc_card.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>

namespace wynfc::test {

using namespace std::chrono_literals;

// Long enough for anything that should happen, short enough for a test that fails.
inline constexpr std::chrono::milliseconds kPatience = 10s;

// The virtual reader driver always shows two readers, each listening on a port of its own.
inline constexpr int kReaderPort[2] = {35963, 35964};
inline const std::string kReaderName[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};

// A PC/SC daemon of the test's own, with the virtual reader driver as its only reader. It
// runs only inside the private namespaces of scripts/with-private-pcscd (the tests' wrapper),
// and is stopped by its process id when the value ends, or by the kernel should the test
// die first.
class PrivatePcscd {
public:
    // Whether the daemon is configured with the virtual reader driver, or with no reader.
    enum class Readers { Virtual, None };

    // Starts the daemon and waits until it answers, listing both virtual readers or none.
    // Throws when it cannot.
    explicit PrivatePcscd(Readers readers = Readers::Virtual);
    ~PrivatePcscd();
    PrivatePcscd(const PrivatePcscd&) = delete;
    PrivatePcscd& operator=(const PrivatePcscd&) = delete;

    // Stops the daemon (SIGTERM, then waits for it). Idempotent.
    void stop();
    pid_t pid() const { return mPid; }

private:
    std::filesystem::path mFolder;
    pid_t mPid = -1;
};

// Waits until the daemon sees a card in the reader, or none. A card taken out is noticed
// by the daemon's next look at the reader: one put back before that would not be seen as
// new, as with a real reader.
bool waitForReader(const std::string& reader, bool withCard);

// The sample driver image of this name, as a fresh tag.
std::shared_ptr<VirtualTag> sampleTag(const std::string& name);

} // namespace wynfc::test
