// Every file the system writes, on a disk that fills up: the write fails and says so, the file
// that was there stays whole, and no temporary file is left behind. The program runs on a
// small tmpfs of its own (scripts/with-small-tmpfs).

#include "platform/linux/key_file_user_defaults.h"
#include "platform/sim/tag_image.h"
#include "work/profile_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

namespace wynfc::test {
namespace {

using ::testing::HasSubstr;

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        const char* disk = std::getenv("WYNFC_SMALL_TMPFS");
        ASSERT_NE(disk, nullptr) << "run through scripts/with-small-tmpfs";
        mFolder = fs::path(disk) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(mFolder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(mFolder, ignored);
    }

    // Takes every byte left on the disk.
    void fill() {
        const int fd = ::open((mFolder / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string chunk(4096, 'x');
        while (::write(fd, chunk.data(), chunk.size()) > 0) {
        }
        const int error = errno;
        ::close(fd);
        ASSERT_EQ(error, ENOSPC);
    }
    // The files in the folder besides the filler: no temporary file may stay.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(mFolder)) {
            if (entry.path().filename() != "filler") {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path mFolder;
};

TagImage sample() {
    return loadTagImage(std::string(WYNFC_RESOURCES_DIR) + "/samples/full_feature.json");
}

TEST_F(FullDisk, ATagImageThatCannotBeSavedLeavesTheOldOneWhole) {
    const fs::path file = mFolder / "driver.json";
    const TagImage old = sample();
    saveTagImage(old, file);
    const std::string before = readAll(file);
    fill();

    TagImage changed = old;
    changed.memory[0] ^= 0xFF;
    try {
        saveTagImage(changed, file);
        ADD_FAILURE() << "a save onto a full disk succeeded";
    } catch (const TagImageError& error) {
        EXPECT_THAT(error.what(), HasSubstr("No space left on device"));
        EXPECT_THAT(error.what(), HasSubstr("the file is as it was"));
    }
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(files(), std::vector<std::string>{"driver.json"});
}

TEST_F(FullDisk, AProfileThatCannotBeSavedLeavesTheOldOneWhole) {
    const fs::path file = mFolder / "profile.json";
    ASSERT_TRUE(saveProfileFile(file, R"({"old": true})").ok);
    fill();
    const ProfileFileOutcome saved = saveProfileFile(file, std::string(64 * 1024, ' ') + R"({"new": true})");
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.message, "Could not save " + file.string() + ": No space left on device");
    EXPECT_EQ(readAll(file), R"({"old": true})");
    EXPECT_EQ(files(), std::vector<std::string>{"profile.json"});
}

TEST_F(FullDisk, ASettingThatCannotBeSavedKeepsTheFileAndHoldsForThisRun) {
    const fs::path file = mFolder / "settings.ini";
    {
        KeyFileUserDefaults settings(file);
        settings.setBool("agree", false);
    }
    const std::string before = readAll(file);
    ASSERT_THAT(before, HasSubstr("agree=false"));
    fill();
    KeyFileUserDefaults settings(file);
    settings.setBool("agree", true);
    EXPECT_TRUE(settings.boolForKey("agree"));
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(files(), std::vector<std::string>{"settings.ini"});
}

TEST_F(FullDisk, WynfcSaysThatTheDriverWasNotSavedAndFails) {
    const fs::path file = mFolder / "driver.json";
    saveTagImage(sample(), file);
    const std::string before = readAll(file);
    fill();
    const fs::path err = fs::temp_directory_path() / ("wynfc_full_disk_" + std::to_string(::getpid()));
    const std::string command =
        "WYNFC_TIME_SCALE=0.05 '" + std::string(WYNFC_CLI) + "' write --reader sim-nfc --tag '" +
        file.string() + "' --save '" + file.string() +
        "' --set nfc_data_addr_dc_dali_setting.max_level=230 >/dev/null 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_THAT(readAll(err), HasSubstr("No space left on device"));
    fs::remove(err);
    EXPECT_EQ(readAll(file), before);
    EXPECT_EQ(files(), std::vector<std::string>{"driver.json"});
}

} // namespace
} // namespace wynfc::test
