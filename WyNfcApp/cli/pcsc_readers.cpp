#include "cli/pcsc_readers.h"

#ifdef WYNFC_HAVE_PCSC
#include "platform/linux/pcsc/pcsc_tag_reader.h"
#endif

#include <stdexcept>

namespace wynfc::cli {

std::shared_ptr<TagReaderService> pcscReaders(const std::optional<std::string>& name, Timing timing) {
#ifdef WYNFC_HAVE_PCSC
    auto service = std::make_shared<PcscTagReaderService>(name, timing);
    if (!service->serviceRunning()) {
        throw std::runtime_error("the PC/SC service (pcscd) is not running: start it (for example: sudo "
                                 "systemctl start pcscd.socket)");
    }
    if (service->readerNames().empty()) {
        throw std::runtime_error(
            name
                ? "no NFC reader whose name holds \"" + *name + "\" is attached (pcsc_scan lists the readers)"
                : std::string("no NFC reader is attached (pcsc_scan lists the readers)"));
    }
    return service;
#else
    (void)name;
    (void)timing;
    throw std::runtime_error(
        "this wynfc was built without PC/SC (libpcsclite): --reader nfc is not available");
#endif
}

} // namespace wynfc::cli
