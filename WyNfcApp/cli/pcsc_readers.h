#pragma once

#include "platform/tag_reader_session.h"
#include "platform/timing.h"

#include <memory>
#include <optional>
#include <string>

namespace wynfc::cli {

// The NFC readers attached to this machine, through pcscd: all of them, or those whose name
// holds `name`. Throws std::runtime_error, with a message for the user, when pcscd is not
// running, lists no such reader, or this program was built without PC/SC.
std::shared_ptr<TagReaderService> pcscReaders(const std::optional<std::string>& name, Timing timing);

} // namespace wynfc::cli
