#include "platform/sim/tag_queue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <unistd.h>

namespace wynfc {
namespace {

std::shared_ptr<VirtualTag> tagWithUid(std::uint8_t last) {
    return std::make_shared<VirtualTag>(TagImage::blank({last, 2, 3, 4, 5, 6, 0x07, 0xE0}, 8));
}

std::vector<std::shared_ptr<VirtualTag>> nfcField(const SimulatedTagReaderService& reader) {
    std::vector<std::shared_ptr<VirtualTag>> tags;
    for (const FieldTag& tag : reader.tagsInField()) {
        tags.push_back(std::get<std::shared_ptr<VirtualTag>>(tag));
    }
    return tags;
}

// The field of both readers through a list with a driver that stays (B, B) and one laid on the
// reader again later (A).
TEST(SimulatedTagQueueTest, LaysEachDriverOnTheReadersInTurn) {
    const auto a = tagWithUid(1);
    const auto b = tagWithUid(2);
    SimulatedTagQueue queue({{a, "a.json"}, {b, "b.json"}, {b, "b.json"}, {a, "a.json"}});
    const auto nfc = std::make_shared<SimulatedTagReaderService>();
    const auto ble = std::make_shared<SimulatedFeigReader>();
    queue.presentTo(nfc);
    queue.presentTo(ble);
    std::vector<std::shared_ptr<VirtualTag>> announced;
    const auto subscription =
        queue.inField.observe([&](const std::shared_ptr<VirtualTag>& tag) { announced.push_back(tag); });

    EXPECT_TRUE(nfcField(*nfc).empty());
    queue.driverDone(); // before start: nothing
    queue.start();
    queue.start();
    EXPECT_EQ(nfcField(*nfc), std::vector{a});
    queue.driverDone();
    EXPECT_EQ(nfcField(*nfc), std::vector{b});
    queue.driverDone(); // b stays for the next job
    EXPECT_EQ(nfcField(*nfc), std::vector{b});
    EXPECT_EQ(queue.presented(), 3U);
    queue.driverDone();
    EXPECT_EQ(nfcField(*nfc), std::vector{a});
    EXPECT_FALSE(queue.exhausted());
    queue.driverDone();
    EXPECT_TRUE(nfcField(*nfc).empty());
    EXPECT_TRUE(queue.exhausted());
    queue.driverDone();
    EXPECT_EQ(announced, (std::vector<std::shared_ptr<VirtualTag>>{a, b, a, nullptr}));
    EXPECT_EQ(queue.drivers().size(), 2U);
}

TEST(SimulatedTagQueueTest, WaitUntilGoneWakesWhenAnotherThreadMovesOn) {
    const auto a = tagWithUid(1);
    SimulatedTagQueue queue({{a, "a.json"}, {a, "a.json"}});
    queue.start();
    EXPECT_FALSE(queue.waitUntilGone(a, Millis{1}));
    queue.driverDone(); // stays
    EXPECT_FALSE(queue.waitUntilGone(a, Millis{1}));
    std::thread worker([&] { queue.driverDone(); });
    EXPECT_TRUE(queue.waitUntilGone(a, Millis{60000}));
    worker.join();
}

TEST(SimulatedTagQueueTest, RefusesListsItCannotSave) {
    EXPECT_THROW(SimulatedTagQueue({}), std::invalid_argument);
    EXPECT_THROW(SimulatedTagQueue({{nullptr, "a.json"}}), std::invalid_argument);
    EXPECT_THROW(SimulatedTagQueue({{tagWithUid(1), "a.json"}, {tagWithUid(2), "a.json"}}),
                 std::invalid_argument);
}

TEST(SimulatedTagQueueTest, LoadsAPathTwiceAsOneDriverAndSavesEachOnce) {
    const auto folder = std::filesystem::path(WYNFC_BINARY_DIR) / "tag_queue_test" / std::to_string(getpid());
    std::filesystem::remove_all(folder);
    const std::string sample = std::string(WYNFC_RESOURCES_DIR) + "/samples/basic.json";
    const auto queue = SimulatedTagQueue::load({sample, sample});
    queue->start();
    queue->driverDone();
    EXPECT_EQ(queue->inField.get(), queue->drivers().front().tag);
    queue->inField.get()->setMemory(0, Bytes{9, 9, 9, 9});
    queue->saveAll(folder / "out");
    EXPECT_EQ(loadTagImage(folder / "out" / "basic.json").memory.front(), 9);
    EXPECT_THROW(SimulatedTagQueue::load({folder / "missing.json"}), TagImageError);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace wynfc
