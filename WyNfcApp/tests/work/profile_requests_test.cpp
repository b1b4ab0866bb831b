// Configuration profiles saved and loaded through the file dialogs: what reaches the disk,
// what reaches the page, and every way a request can fail.

#include "work_bench.h"

#include "work/profile_files.h"

#include <gmock/gmock.h>

#include <csignal>
#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wynfc::work_test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Everything a page script may choke on: quotes, backslashes, line breaks of every kind,
// the end of a script element, characters outside ASCII, a template literal.
const std::string kHostileText = "{\"name\": \"it's \\\"quoted\\\"\",\n\t\"path\": \"C:\\\\drivers\\\\\",\r\n"
                                 "\"html\": \"</script><script>alert(1)</script>\",\n"
                                 "\"lines\": \"a\xE2\x80\xA8"
                                 "b\xE2\x80\xA9"
                                 "c\", \"umlaut\": \"Gr\xC3\xBC\xC3\x9F"
                                 "e\", \"emoji\": \"\xF0\x9F\x92\xA1\", \"js\": \"`${x}`\\u0027'\"}\n";

fs::path folderFor(const std::string& name) {
    const auto folder = fs::path(WYNFC_BINARY_DIR) / "work_tests" / "profiles" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    return folder;
}

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { b.open(); }

    // Posts the request and waits until its dialog was answered and its file job ended.
    void request(const std::string& text) {
        b.post(text);
        finish();
    }

    // Waits for a dialog's answer on the main queue, then for the file job it started.
    void finish() {
        b.main->waitIdle();
        b.page->waitForJobs();
        b.main->waitIdle();
    }

    void exportTo(const fs::path& file, const std::string& text, const std::string& name = "driver.json") {
        b.files->prepareAnswer(file);
        request("EXPORT_PROFILE:" + nlohmann::json{{"suggestedName", name}, {"text", text}}.dump());
    }

    void importFrom(const fs::path& file) {
        b.files->prepareAnswer(file);
        request("IMPORT_PROFILE:");
    }

    // The payloads of the PROFILE_EVENTs, as the page's second argument holds them.
    std::vector<std::string> answers() const {
        std::vector<std::string> payloads;
        for (const PageEvent& e : b.events()) {
            if (e.event == kProfileEvent) {
                payloads.push_back(e.payload);
            }
        }
        return payloads;
    }

    nlohmann::json lastAnswer() const {
        const auto all = answers();
        if (all.empty()) {
            ADD_FAILURE() << "no PROFILE_EVENT";
            return {};
        }
        return nlohmann::json::parse(all.back());
    }

    static nlohmann::json failure(const char* request, const std::string& message) {
        return {{"request", request}, {"outcome", "failed"}, {"message", message}};
    }

    WorkBench b{ReaderMode::NFC};
};

TEST_F(ProfileTest, ExportWritesTheTextExactlyInPlaceOfTheOldFile) {
    const fs::path folder = folderFor("export");
    const fs::path old = folder / "old.json";
    writeFile(old, std::string(5000, 'x')); // longer than the new text: nothing of it may remain
    fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    exportTo(old, kHostileText, "../../etc/driver.json");
    EXPECT_EQ(answers().back(),
              "{\"request\":\"EXPORT_PROFILE\",\"outcome\":\"saved\",\"file\":\"" + old.string() + "\"}");
    EXPECT_EQ(readText(old), kHostileText);
    EXPECT_EQ(fs::status(old).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // The dialog proposes the name only (the page picks no folder), with the profile filter.
    const auto dialogs = b.files->dialogs();
    ASSERT_EQ(dialogs.size(), 1U);
    EXPECT_EQ(dialogs[0].kind, ScriptedFileChooser::Kind::Save);
    EXPECT_EQ(dialogs[0].request.suggestedName, "driver.json");
    EXPECT_EQ(dialogs[0].request.filterName, "Configuration profiles");
    EXPECT_EQ(dialogs[0].request.filterPattern, "*.json");

    // A new file gets what the umask leaves; a symbolic link stays one and its target changes.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    exportTo(folder / "new.json", "{}");
    EXPECT_EQ(readText(folder / "new.json"), "{}");
    EXPECT_EQ(static_cast<mode_t>(fs::status(folder / "new.json").permissions()), 0666 & ~mask);
    fs::create_symlink("new.json", folder / "link.json");
    exportTo(folder / "link.json", "[1]");
    EXPECT_TRUE(fs::is_symlink(folder / "link.json"));
    EXPECT_EQ(readText(folder / "new.json"), "[1]");

    EXPECT_THAT(filesIn(folder), ElementsAre("link.json", "new.json", "old.json"))
        << "no temporary file left";
    EXPECT_EQ(answers().size(), 3U);
}

TEST_F(ProfileTest, FailedSavesLeaveTheOldFileAsItWas) {
    const fs::path folder = folderFor("export-failures");
    const fs::path old = folder / "old.json";
    writeFile(old, "old profile");

    // A folder the user may not write in. Root may write anywhere: the test then runs as
    // nobody while the page saves.
    fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::seteuid(65534), 0) << "cannot leave root: no test of an unwritable folder";
    }
    exportTo(old, "new profile");
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(lastAnswer(),
              failure("EXPORT_PROFILE", "Could not save " + old.string() + ": Permission denied"));
    EXPECT_EQ(readText(old), "old profile");

    // The disk refuses the text half way: the old file stays whole, the half text goes.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{4096, limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    exportTo(old, std::string(100000, 'y'));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(lastAnswer(), failure("EXPORT_PROFILE", "Could not save " + old.string() + ": File too large"));
    EXPECT_EQ(readText(old), "old profile");

    EXPECT_THAT(filesIn(folder), ElementsAre("old.json"));
}

TEST_F(ProfileTest, ExportRefusesWhatIsNotAProfileBeforeAnyDialog) {
    for (const std::string data : {"text", "[]", "{\"text\": 5}", "{\"suggestedName\": \"a.json\"}"}) {
        request("EXPORT_PROFILE:" + data);
        EXPECT_EQ(lastAnswer(), failure("EXPORT_PROFILE", "The profile to save is not readable.")) << data;
    }
    EXPECT_THAT(b.files->dialogs(), IsEmpty());
}

TEST_F(ProfileTest, ImportHandsThePageTheFileExactly) {
    const fs::path folder = folderFor("import");
    writeFile(folder / "hostile.json", kHostileText);
    LogCapture log;
    importFrom(folder / "hostile.json");

    ASSERT_EQ(b.files->dialogs().size(), 1U);
    EXPECT_EQ(b.files->dialogs()[0].kind, ScriptedFileChooser::Kind::Open);
    EXPECT_TRUE(log.contains("Request from H5: IMPORT_PROFILE: "));

    // The script stays on one line whatever the file holds, and gives the page the text.
    const auto scripts = b.web->scripts();
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back().find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(scripts.back().find("\xE2\x80\xA8"), std::string::npos);
    EXPECT_EQ(lastAnswer(), (nlohmann::json{{"request", "IMPORT_PROFILE"},
                                            {"outcome", "loaded"},
                                            {"file", (folder / "hostile.json").string()},
                                            {"text", kHostileText}}));

    // The largest profile there may be still loads.
    writeFile(folder / "largest.json", std::string(kMaxProfileFileSize, ' '));
    importFrom(folder / "largest.json");
    EXPECT_EQ(lastAnswer()["text"].get<std::string>().size(), kMaxProfileFileSize);
}

TEST_F(ProfileTest, ImportRefusesWhatIsNotAProfile) {
    const fs::path folder = folderFor("import-refused");
    const std::string tooLarge = "The file is larger than 1 MiB; a profile is much smaller.";
    const std::string notText = "The file is not a text file.";
    writeFile(folder / "large.json", std::string(kMaxProfileFileSize + 1, ' '));
    writeFile(folder / "latin1.json", "{\"name\": \"Gr\xFC\xDF"
                                      "e\"}");
    writeFile(folder / "overlong.json", "\xC0\xAF");
    writeFile(folder / "surrogate.json", "\xED\xA0\x80");
    writeFile(folder / "cut.json", "\"\xE2\x82");
    writeFile(folder / "nul.json", std::string("{}\0{}", 5));
    ASSERT_EQ(::mkfifo((folder / "pipe.json").c_str(), 0600), 0);
    fs::create_directory(folder / "folder.json");

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"large.json", tooLarge},
        {"latin1.json", notText},
        {"overlong.json", notText},
        {"surrogate.json", notText},
        {"cut.json", notText},
        {"nul.json", notText},
        {"pipe.json", notText}, // and no wait for a writer that never comes
        {"folder.json", "Could not read " + (folder / "folder.json").string() + ": Is a directory"},
        {"missing.json",
         "Could not read " + (folder / "missing.json").string() + ": No such file or directory"},
    };
    for (const auto& [name, message] : cases) {
        importFrom(folder / name);
        EXPECT_EQ(lastAnswer(), failure("IMPORT_PROFILE", message)) << name;
    }
}

TEST_F(ProfileTest, OneDialogAtATimeAndCancelling) {
    const fs::path folder = folderFor("dialogs");
    writeFile(folder / "a.json", "{\"a\": 1}");

    b.files->prepareAnswer(std::nullopt);
    request(R"(EXPORT_PROFILE:{"suggestedName": "a.json", "text": "{}"})");
    b.files->prepareAnswer(std::nullopt);
    request("IMPORT_PROFILE:");
    EXPECT_THAT(answers(), ElementsAre(R"({"request":"EXPORT_PROFILE","outcome":"cancelled"})",
                                       R"({"request":"IMPORT_PROFILE","outcome":"cancelled"})"));
    EXPECT_EQ(readText(folder / "a.json"), "{\"a\": 1}");

    // While a dialog is open, another request is refused and opens none.
    b.files->holdAnswers(true);
    b.files->prepareAnswer(folder / "a.json");
    request("IMPORT_PROFILE:");
    request(R"(EXPORT_PROFILE:{"text": "{}"})");
    request("IMPORT_PROFILE:");
    EXPECT_EQ(b.files->openDialogs(), 1);
    EXPECT_EQ(b.files->dialogs().size(), 3U);
    EXPECT_EQ(answers().size(), 4U);
    EXPECT_EQ(nlohmann::json::parse(answers()[2]),
              failure("EXPORT_PROFILE", "Another profile dialog is open."));
    EXPECT_EQ(nlohmann::json::parse(answers()[3]),
              failure("IMPORT_PROFILE", "Another profile dialog is open."));

    // Once it is answered, the next request may open one again.
    ASSERT_TRUE(b.files->releaseAnswer());
    finish();
    EXPECT_EQ(lastAnswer()["text"], "{\"a\": 1}");
    b.files->holdAnswers(false);
    b.files->prepareAnswer(std::nullopt);
    request("IMPORT_PROFILE:");
    EXPECT_EQ(lastAnswer()["outcome"], "cancelled");
}

TEST_F(ProfileTest, AnswersAfterThePageWasLeftAreDropped) {
    const fs::path folder = folderFor("left");
    b.files->holdAnswers(true);
    b.files->prepareAnswer(folder / "saved.json");
    request(R"(EXPORT_PROFILE:{"text": "{}"})");
    b.post("HIDE_APP:");
    ASSERT_TRUE(b.files->releaseAnswer());
    finish();
    EXPECT_THAT(answers(), IsEmpty());
    EXPECT_FALSE(fs::exists(folder / "saved.json")) << "the user's choice came after the page had gone";

    // The page itself may be gone by the time the dialog answers.
    b.files->prepareAnswer(folder / "saved.json");
    request("IMPORT_PROFILE:");
    const std::weak_ptr<WorkPage> page = b.page;
    b.close();
    EXPECT_TRUE(page.expired());
    ASSERT_TRUE(b.files->releaseAnswer());
    b.main->waitIdle();
    EXPECT_THAT(answers(), IsEmpty());
}

TEST(ProfileWithoutFileChooserTest, EveryRequestFails) {
    EventLoop loop;
    WorkPageEnvironment environment; // as the command-line host: no dialogs
    environment.platform.mainQueue = std::shared_ptr<MainQueue>(&loop, [](MainQueue*) {});
    environment.bundle = std::make_shared<FolderBundle>(WYNFC_RESOURCES_DIR);
    auto page = WorkPage::create(ReaderMode::NFC, environment);
    auto host = std::make_shared<RecordingWebViewHost>(loop);
    loop.sync([&] {
        page->attachWebView(host);
        page->handlePageRequest("EXPORT_PROFILE", R"({"text": "{}"})");
        page->handlePageRequest("IMPORT_PROFILE", "");
    });
    std::vector<std::string> payloads;
    for (const auto& script : host->scripts()) {
        if (const auto call = parseEventScript(script); call && call->event == kProfileEvent) {
            payloads.push_back(call->payload);
        }
    }
    EXPECT_THAT(
        payloads,
        ElementsAre(
            R"({"request":"EXPORT_PROFILE","outcome":"failed","message":"Profiles cannot be saved or loaded here."})",
            R"({"request":"IMPORT_PROFILE","outcome":"failed","message":"Profiles cannot be saved or loaded here."})"));
}

} // namespace
} // namespace wynfc::work_test
