#pragma once

#include "platform/published.h"

namespace wynfc {

// Shows or hides the tab bar: the home page hides it when it opens a work page, the work
// page shows it again when it closes itself.
struct MyTabData {
    Published<bool> showTab{true};
};

} // namespace wynfc
