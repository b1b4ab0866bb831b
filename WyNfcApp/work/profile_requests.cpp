// Configuration profiles: the page hands a profile's text to be saved in a file the user
// picks ("EXPORT_PROFILE"), or asks for the text of a file the user picks ("IMPORT_PROFILE").
// The dialog runs on the main queue; the file is written or read on a worker; the page gets
// one "PROFILE_EVENT" per request.

#include "platform/console_log.h"
#include "web/page_events.h"
#include "work/profile_files.h"
#include "work/work_page.h"

#include <nlohmann/json.hpp>

namespace wynfc {
namespace {

using Payload = nlohmann::ordered_json;

constexpr const char* kProfileFilterName = "Configuration profiles";
constexpr const char* kProfileFilterPattern = "*.json";
constexpr const char* kDefaultProfileName = "profile.json";

// Compact JSON. A file name need not be UTF-8: such bytes become U+FFFD rather than
// breaking the answer.
std::string text(const Payload& payload) {
    return payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string cancelled(const char* request) {
    return text(Payload{{"request", request}, {"outcome", "cancelled"}});
}

std::string failed(const char* request, const std::string& message) {
    return text(Payload{{"request", request}, {"outcome", "failed"}, {"message", message}});
}

struct ProfileToSave {
    std::string suggestedName;
    std::string text;
};

// {"suggestedName": "...", "text": "..."}; the text is required, the name is not. Only the
// name's last part is proposed: the page does not choose folders.
std::optional<ProfileToSave> parseProfileToSave(const std::string& data) {
    const auto json = nlohmann::json::parse(data, nullptr, false);
    if (!json.is_object() || !json.contains("text") || !json["text"].is_string()) {
        return std::nullopt;
    }
    ProfileToSave profile{kDefaultProfileName, json["text"].get<std::string>()};
    if (const auto name = json.find("suggestedName"); name != json.end() && name->is_string()) {
        const std::string last = std::filesystem::path(name->get<std::string>()).filename().string();
        if (!last.empty() && last != "." && last != "..") {
            profile.suggestedName = last;
        }
    }
    return profile;
}

std::filesystem::path absolutePath(const std::filesystem::path& file) {
    std::error_code error;
    auto result = std::filesystem::absolute(file, error);
    return error ? file : result;
}

} // namespace

bool WorkPage::canOpenProfileDialog(const char* request) {
    if (!mEnvironment.fileChooser) {
        sendProfileEvent(failed(request, "Profiles cannot be saved or loaded here."));
        return false;
    }
    if (mProfileDialogOpen) {
        sendProfileEvent(failed(request, "Another profile dialog is open."));
        return false;
    }
    return true;
}

void WorkPage::exportProfile(const std::string& data) {
    if (!canOpenProfileDialog(kExportProfileRequest)) {
        return;
    }
    auto profile = parseProfileToSave(data);
    if (!profile) {
        sendProfileEvent(failed(kExportProfileRequest, "The profile to save is not readable."));
        return;
    }
    openProfileDialog(
        true,
        {"Export configuration profile", profile->suggestedName, kProfileFilterName, kProfileFilterPattern},
        kExportProfileRequest, [profileText = std::move(profile->text)](const auto& file) {
            const ProfileFileOutcome outcome = saveProfileFile(file, profileText);
            if (!outcome.ok) {
                return failed(kExportProfileRequest, outcome.message);
            }
            return text(
                Payload{{"request", kExportProfileRequest}, {"outcome", "saved"}, {"file", file.string()}});
        });
}

void WorkPage::importProfile() {
    if (!canOpenProfileDialog(kImportProfileRequest)) {
        return;
    }
    openProfileDialog(false, {"Import configuration profile", "", kProfileFilterName, kProfileFilterPattern},
                      kImportProfileRequest, [](const auto& file) {
                          const ProfileFileOutcome outcome = loadProfileFile(file);
                          if (!outcome.ok) {
                              return failed(kImportProfileRequest, outcome.message);
                          }
                          return text(Payload{{"request", kImportProfileRequest},
                                              {"outcome", "loaded"},
                                              {"file", file.string()},
                                              {"text", outcome.text}});
                      });
}

void WorkPage::openProfileDialog(bool save, const FileChooserRequest& request, const char* requestName,
                                 ProfileJob job) {
    mProfileDialogOpen = true;
    auto done = [weak = weak_from_this(), requestName,
                 job = std::move(job)](std::optional<std::filesystem::path> chosen) {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->mProfileDialogOpen = false;
        if (self->snapshot().mExitPage) {
            logLine(TAG, std::string("The page has been left; the file dialog of ") + requestName +
                             " is answered for nothing");
            return;
        }
        if (!chosen) {
            self->sendProfileEvent(cancelled(requestName));
            return;
        }
        self->startJob([file = absolutePath(*chosen), job](WorkPage& page) {
            const std::string payload = job(file);
            page.onMainQueue([&] { page.sendProfileEvent(payload); });
        });
    };
    if (save) {
        mEnvironment.fileChooser->chooseFileToSave(request, std::move(done));
    } else {
        mEnvironment.fileChooser->chooseFileToOpen(request, std::move(done));
    }
}

void WorkPage::sendProfileEvent(const std::string& payload) {
    if (snapshot().mExitPage) {
        logLine(TAG, "The page has been left; its profile answer is dropped: " + payload);
        return;
    }
    mDataHandler->sendEvent(kProfileEvent, payload);
}

} // namespace wynfc
