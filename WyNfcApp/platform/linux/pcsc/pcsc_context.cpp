#include "platform/linux/pcsc/pcsc_context.h"

#include <algorithm>
#include <cstdio>

namespace wynfc::pcsc_detail {

std::string pcscText(LONG rv) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(rv));
    return std::string(pcsc_stringify_error(rv)) + " (" + code + ")";
}

bool isServiceGone(LONG rv) {
    return rv == SCARD_E_NO_SERVICE || rv == SCARD_E_SERVICE_STOPPED || rv == SCARD_F_COMM_ERROR ||
           rv == SCARD_E_INVALID_HANDLE;
}

LONG Context::establish() {
    release();
    const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &mHandle);
    mValid = rv == SCARD_S_SUCCESS;
    return rv;
}

void Context::release() {
    if (mValid) {
        SCardReleaseContext(mHandle);
        mValid = false;
    }
}

namespace {

bool nameMatches(const std::string& reader, const std::optional<std::string>& filter) {
    return !filter || filter->empty() || reader.find(*filter) != std::string::npos;
}

} // namespace

LONG listReaders(SCARDCONTEXT context, const std::optional<std::string>& filter,
                 std::vector<std::string>& readers) {
    readers.clear();
    DWORD length = 0;
    LONG rv = SCardListReaders(context, nullptr, nullptr, &length);
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        return SCARD_S_SUCCESS;
    }
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    std::string buffer(length, '\0');
    rv = SCardListReaders(context, nullptr, buffer.data(), &length);
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        return SCARD_S_SUCCESS;
    }
    if (rv != SCARD_S_SUCCESS) {
        return rv;
    }
    buffer.resize(std::min<std::size_t>(length, buffer.size()));
    // A multi-string: names each ended by NUL, the list by another NUL.
    for (std::size_t start = 0; start < buffer.size() && buffer[start] != '\0';) {
        const std::size_t end = buffer.find('\0', start);
        std::string name = buffer.substr(start, end - start);
        if (nameMatches(name, filter)) {
            readers.push_back(std::move(name));
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return SCARD_S_SUCCESS;
}

} // namespace wynfc::pcsc_detail
