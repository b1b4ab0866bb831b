// The production mode's requests: the end of each run reported to a page that watches jobs,
// with the tag's UID, and the page's word that it is done with a driver.

#include "work_bench.h"

#include <gmock/gmock.h>

namespace wynfc::work_test {
namespace {

using nlohmann::json;

[[maybe_unused]] const auto* const kMap = ::testing::AddGlobalTestEnvironment(new ShippedMapEnvironment);

// The samples' UIDs in the order the tag reports them, as the image files hold them.
constexpr const char* kFullFeatureUid = "5B1E3A7C2F0802E0";
constexpr const char* kUnsupportedUid = "9E07C15D330402E0";

class JobEventsTest : public ::testing::TestWithParam<ReaderMode> {
protected:
    std::unique_ptr<WorkBench> bench(const std::string& sample = "full_feature") {
        return WorkBench::opened(GetParam(), sample);
    }

    static std::vector<json> jobEvents(const WorkBench& b) {
        std::vector<json> found;
        for (const PageEvent& e : b.events()) {
            if (e.event == kJobEvent) {
                found.push_back(json::parse(e.payload));
            }
        }
        return found;
    }

    static bool waitForJobEvents(WorkBench& b, std::size_t count) {
        return b.waitForEvents([&] { return jobEvents(b).size() >= count; });
    }
};

TEST_P(JobEventsTest, EachRunEndsWithItsOutcomeAndTheTagsUidOnlyWhileWatched) {
    auto b = bench();
    b->read();
    b->startWrite();
    b->write(
        b->header() +
        R"(:[{"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 200}]}])");
    b->main->waitIdle();
    EXPECT_TRUE(jobEvents(*b).empty()) << "a page that does not watch jobs gets the product's events only";

    b->post("WATCH_JOBS:on");
    b->read();
    ASSERT_TRUE(waitForJobEvents(*b, 1));
    b->startWrite();
    b->write(
        b->header() +
        R"(:[{"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 201}]}])");
    ASSERT_TRUE(waitForJobEvents(*b, 2));
    // A write whose check pattern the tag refuses ends as failed, with what failed.
    b->startWrite();
    b->tag->injectFault(TagOperationKind::Write, TagAnswer::Failed, 0x3FC / 4, 1);
    b->write(
        b->header() +
        R"(:[{"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 202}]}])");
    ASSERT_TRUE(waitForJobEvents(*b, 3));
    // A request that does not name this driver is refused before anything is written.
    b->startWrite();
    b->write(
        R"(99,99:[{"name": "nfc_data_addr_dc_dali_setting", "data": [{"propName": "max_level", "value": 203}]}])");
    ASSERT_TRUE(waitForJobEvents(*b, 4));

    const auto events = jobEvents(*b);
    ASSERT_EQ(events.size(), 4U);
    EXPECT_EQ(events[0],
              json({{"job", "read"}, {"outcome", "completed"}, {"uid", kFullFeatureUid}, {"message", ""}}));
    EXPECT_EQ(events[1],
              json({{"job", "write"}, {"outcome", "completed"}, {"uid", kFullFeatureUid}, {"message", ""}}));
    EXPECT_EQ(events[2], json({{"job", "write"},
                               {"outcome", "failed"},
                               {"uid", kFullFeatureUid},
                               {"message", "Write failed: Write failed"}}));
    EXPECT_EQ(events[3]["outcome"], "failed");
    EXPECT_EQ(events[3]["message"], "Write failed: Driver subtype is not match.");
    EXPECT_EQ(b->valueOf("nfc_data_addr_dc_dali_setting", "max_level"), 202U);

    b->post("WATCH_JOBS:off");
    b->read();
    b->main->waitIdle();
    EXPECT_EQ(jobEvents(*b).size(), 4U);
}

TEST_P(JobEventsTest, AnUnsupportedDriverIsAFailedReadThatSaysSo) {
    auto b = bench("unsupported");
    b->post("WATCH_JOBS:on");
    b->read();
    ASSERT_TRUE(waitForJobEvents(*b, 1));
    const json first = jobEvents(*b).front();
    EXPECT_EQ(first["job"], "read");
    EXPECT_EQ(first["outcome"], "failed");
    EXPECT_EQ(first["message"], "Not Support this product");
    EXPECT_EQ(first["uid"], kUnsupportedUid);
    if (GetParam() == ReaderMode::BLE) {
        b->main->sync([&] { b->page->waitingPopupCancel(); });
    }
}

TEST_P(JobEventsTest, NextDriverReachesTheHostOncePerRequest) {
    auto b = bench();
    b->post("NEXT_DRIVER:");
    b->post("NEXT_DRIVER:");
    EXPECT_EQ(b->nextDrivers.load(), 2);
}

INSTANTIATE_TEST_SUITE_P(Readers, JobEventsTest, ::testing::Values(ReaderMode::NFC, ReaderMode::BLE),
                         readerName);

TEST(JobEventPayload, NamesTheUidInTheTagsOrderOrNothing) {
    EXPECT_EQ(jobEventPayload("read", true, Bytes{0x01, 0x02, 0xAB, 0xE0}, ""),
              R"({"job":"read","message":"","outcome":"completed","uid":"0102ABE0"})");
    EXPECT_EQ(json::parse(jobEventPayload("write", false, std::nullopt, "Write failed: x"))["uid"], nullptr);
    EXPECT_EQ(json::parse(jobEventPayload("write", false, Bytes{}, "x"))["uid"], nullptr);
}

} // namespace
} // namespace wynfc::work_test
