#pragma once

namespace wynfc::shell {

// The long texts a user reads in the application.
extern const char* const kDisclaimerTitle;
extern const char* const kDisclaimerBody;
extern const char* const kPolicyTitle;
extern const char* const kPolicyBody;
extern const char* const kFeedbackSubtitle;

} // namespace wynfc::shell
