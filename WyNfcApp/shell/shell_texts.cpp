#include "shell/shell_texts.h"

namespace wynfc::shell {

const char* const kDisclaimerTitle = "Statement denying or limiting responsibility";

const char* const kDisclaimerBody =
    "WyNfc reads and changes the settings stored in the NFC memory of LED drivers: output current, "
    "dimming limits, DALI settings, start-up behaviour, emergency and diagnostic data and more.\n\n"
    "A wrong setting can make a luminaire too bright, too dim, or stop it from working. Before you "
    "write, check every value against the data sheet of the driver and of the LED module it feeds. "
    "Write only to drivers you are responsible for, and only while they are disconnected from the "
    "mains or otherwise safe to handle.\n\n"
    "The application writes exactly the values you send from the configuration page. It checks "
    "that the driver is of a supported type before it writes, and reports every failure it meets, "
    "but it cannot know whether a value suits your luminaire. Read the driver again after writing "
    "to confirm the result.\n\n"
    "WyNfc is provided as it is, without any warranty. To the extent the law allows, its makers "
    "accept no liability for damage to drivers, luminaires or installations, or for any loss that "
    "results from settings written with it.\n\n"
    "By pressing \"Agree\" you confirm that you have read this statement and accept it.";

const char* const kPolicyTitle = "Personal Information Protection Policy";

const char* const kPolicyBody =
    "What the application reads. WyNfc reads the memory of the LED driver you hold to the reader: "
    "its identification (type, sub type and serial data), its capability list and its settings. "
    "It reads nothing else from your computer.\n\n"
    "What it writes. It writes to the driver only the settings you send from the configuration page, "
    "followed by a check pattern that marks the write as complete.\n\n"
    "What it keeps. On this computer it stores a single setting: that you have accepted the "
    "disclaimer. Driver data lives in the application's memory while a page is open and is gone "
    "when you close it, unless you save it yourself.\n\n"
    "What leaves this computer. Nothing. The application sends no data over the internet, collects "
    "no statistics and contains no tracking. The configuration page is a local file and has no "
    "network access. Bluetooth is used only to talk to the NFC reader you connect to.\n\n"
    "Feedback. If you choose to send feedback, your own mail program opens with a prepared message; "
    "you decide whether to send it and what it contains.";

const char* const kFeedbackSubtitle = "Tell us what works and what does not; your mail program opens.";

} // namespace wynfc::shell
