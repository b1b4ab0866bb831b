#pragma once

namespace wynfc::shell {

// The application's look: the light colour scheme whatever the desktop prefers, and the
// styles of its cards, covers, popups and status line. Once per process, after GTK starts.
void installShellStyle();

} // namespace wynfc::shell
