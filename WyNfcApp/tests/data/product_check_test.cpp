#include "data/json_records.h"
#include "data/nfc_data_handler.h"
#include "platform/console_log.h"
#include "platform/sim/event_loop.h"
#include "platform/sim/folder_bundle.h"
#include "platform/sim/recording_web_view_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace wynfc {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A transport that answers the identification read as told.
class ScriptedReader : public IReader {
public:
    explicit ScriptedReader(ResultObj answer) : mAnswer(std::move(answer)) {}
    void startScan(std::weak_ptr<ResponseToReaderDelegate>, bool) override {}
    ResultObj readByName(const std::string& name) override {
        names.push_back(name);
        return mAnswer;
    }
    ResultObj writeByName(const std::string&, const std::string&) override { return {}; }
    std::vector<std::string> names;

private:
    ResultObj mAnswer;
};

std::string product(int type, int subType, const std::string& extra = "") {
    return R"({"driver_type": )" + std::to_string(type) + R"(, "driver_subtype": )" +
           std::to_string(subType) +
           R"(, "min_current": 100, "max_current": 700, "min_voltage": 9, "max_voltage": 54,
        "support_aoc": true, "support_clo": true, "support_lamp_on_time": false, "support_dc_emergency": false,
        "support_diagnostics": true, "log_min_level": 1, "linear_min_level": 1, "support_dimming_limit": true,
        "support_dali_percentage_limit": false, "dt6_min_current": 100, "dt6_max_current": 700,
        "dt6_total_current": 700, "support_tunable_white": false, "support_addressing": true,
        "support_dali_setting": true, "support_corridor": false, "support_vaux": false, "support_mb1": true,
        "support_mb207": false, "support_dtl": false, "support_owp": false, "gtin": null, "colour": "white")" +
           extra + "}";
}

std::string identification(std::initializer_list<std::pair<const char*, long long>> items) {
    std::string text = "[";
    for (const auto& [name, value] : items) {
        text += std::string(text.size() > 1 ? "," : "") + R"({"dataType":"byte","name":")" + name +
                R"(","value":)" + std::to_string(value) + "}";
    }
    return text + "]";
}

class ProductCheckTest : public ::testing::Test {
protected:
    // A handler whose bundle holds the given product table (none when empty).
    std::shared_ptr<NfcDataHandler> handlerWith(const std::string& table) {
        const auto folder = std::filesystem::path(WYNFC_BINARY_DIR) / "product_check_test" /
                            ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        if (!table.empty()) {
            std::ofstream(folder / "product_features.json") << table;
        }
        return std::make_shared<NfcDataHandler>(std::make_shared<FolderBundle>(folder), ReaderPlatform{});
    }

    std::shared_ptr<NfcDataHandler> handlerAnswering(ResultObj answer,
                                                     const std::string& table = R"({"name": "t", "data": [)" +
                                                                                product(5, 9) + "," +
                                                                                product(7, 2) + "]}") {
        auto handler = handlerWith(table);
        handler->setReader(std::make_shared<ScriptedReader>(std::move(answer)));
        return handler;
    }
};

TEST_F(ProductCheckTest, TypeAndSubTypeMatchIndependently) {
    const std::string id = identification({{"device_type", 5}, {"device_sub_type", 2}});
    const ResultObj result = handlerAnswering(ResultObj::ok(Bytes{1}, id))->checkProductSupported();
    EXPECT_EQ(result.error, ErrorCode::OK);
    EXPECT_EQ(result.data, id);
    EXPECT_FALSE(result.rawData.has_value());

    const std::string unknownSub = identification({{"device_type", 5}, {"device_sub_type", 3}});
    EXPECT_EQ(handlerAnswering(ResultObj::ok({}, unknownSub))->checkProductSupported().error,
              ErrorCode::ERROR);
}

TEST_F(ProductCheckTest, NegativeCodesNeverMatch) {
    const std::string table = R"({"name": "t", "data": [)" + product(-1, -1) + "]}";
    const std::string id = identification({{"device_type", -1}, {"device_sub_type", -1}});
    EXPECT_EQ(handlerAnswering(ResultObj::ok({}, id), table)->checkProductSupported().error,
              ErrorCode::ERROR);
    // A tag's codes are never negative; asked for -1 itself, the table's -1 still matches nothing.
    const auto decoded = decodeProductFeature(table);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_FALSE(decoded->supportsDeviceType(-1));
    EXPECT_FALSE(decoded->supportsDeviceSubType(-1));
}

TEST_F(ProductCheckTest, LaterDuplicateWinsForIdsEitherMatchesForSupport) {
    const std::string id = identification({{"device_type", 5}, {"device_type", 6}, {"device_sub_type", 9}});
    auto handler = handlerAnswering(ResultObj::ok({}, id));
    EXPECT_EQ(handler->readDeviceIds(), (std::pair<std::int64_t, std::int64_t>{9, 6}));
    EXPECT_EQ(handler->checkProductSupported().error, ErrorCode::OK);
}

TEST_F(ProductCheckTest, MissingOrEmptyIdentification) {
    const std::string typeOnly = identification({{"device_type", 5}});
    auto handler = handlerAnswering(ResultObj::ok({}, typeOnly));
    EXPECT_EQ(handler->readDeviceIds(), (std::pair<std::int64_t, std::int64_t>{-1, 5}));
    EXPECT_EQ(handler->checkProductSupported().data, typeOnly);

    handler = handlerAnswering(ResultObj::ok({}, "[]"));
    EXPECT_EQ(handler->readDeviceIds(), (std::pair<std::int64_t, std::int64_t>{-1, -1}));
    const ResultObj empty = handler->checkProductSupported();
    EXPECT_EQ(empty.error, ErrorCode::ERROR);
    EXPECT_EQ(empty.data, "[]");
}

TEST_F(ProductCheckTest, FailedReadsAndMissingReader) {
    auto handler = handlerAnswering(ResultObj{}); // a read that timed out
    EXPECT_EQ(handler->checkProductSupported().data, "Read driver info failed");
    EXPECT_EQ(handler->readDeviceIds(), (std::pair<std::int64_t, std::int64_t>{-1, -1}));

    const ResultObj noText = handlerAnswering(ResultObj::ok({}, std::nullopt))->checkProductSupported();
    EXPECT_FALSE(noText.error.has_value());
    EXPECT_FALSE(noText.data.has_value());

    auto noReader = handlerWith("");
    EXPECT_EQ(noReader->checkProductSupported().data, "Reader is invalid");
    EXPECT_EQ(noReader->readDeviceIds(), (std::pair<std::int64_t, std::int64_t>{-1, -1}));
}

TEST_F(ProductCheckTest, ProductTableDecoding) {
    const std::string id = identification({{"device_type", 5}, {"device_sub_type", 9}});
    // Without a table, or with an empty one, nothing is supported.
    EXPECT_EQ(handlerAnswering(ResultObj::ok({}, id), "")->checkProductSupported().error, ErrorCode::ERROR);
    EXPECT_EQ(handlerAnswering(ResultObj::ok({}, id), R"({"name": "t", "data": []})")
                  ->checkProductSupported()
                  .error,
              ErrorCode::ERROR);

    // A product lacking an integer key spoils the whole file, with a line saying why.
    std::string lacking = product(5, 9);
    lacking.replace(lacking.find(R"("max_voltage": 54,)"), 18, "");
    LogCapture log;
    auto spoiled = handlerWith(R"({"name": "t", "data": [)" + product(5, 9) + "," + lacking + "]}");
    EXPECT_FALSE(spoiled->productTable().has_value());
    EXPECT_TRUE(log.contains("product 2: \"max_voltage\" is missing"));

    auto decoded =
        decodeProductFeature(R"({"name": "t", "data": [)" + product(5, 9, R"(, "chip_model": "X1")") + "]}");
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->data.size(), 1U);
    EXPECT_EQ(decoded->data[0].chip_model, "X1");
    EXPECT_FALSE(decoded->data[0].gtin.has_value());
    EXPECT_FALSE(
        decodeProductFeature(R"({"name": "t", "data": [)" + product(5, 9, R"(, "support_owp": 1)") + "]}"));
}

TEST_F(ProductCheckTest, EventsGoToTheWebViewOnceHandedOver) {
    EventLoop loop;
    auto host = std::make_shared<RecordingWebViewHost>(loop);
    auto handler = handlerWith("");
    handler->sendEvent("GET_VERSION_CALLBACK", "0.0.0"); // dropped: no web view yet
    handler->setWebViewHandle(host);
    handler->sendUpdateEvent("spec", "{}");
    handler->sendNotifyEvent("WRITE_EVENT");
    EXPECT_THAT(host->scripts(), ElementsAre("javascript:WyNfcEventCallback('UPDATE_EVENT','spec:{}')",
                                             "javascript:WyNfcEventCallback('NOTIFY_EVENT','WRITE_EVENT')"));
}

TEST(JsonRecordsTest, ValueItemsUseTheLowerCaseArrayKey) {
    const auto items = decodeJsonDataItems(
        R"([{"arrayValue":"0x01,","dataType":"array","name":"a","value":0},{"dataType":"label","name":"b"},)"
        R"({"arrayvalue":"x","dataType":"int","name":"c","value":-1}])");
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 3U);
    EXPECT_FALSE((*items)[0].arrayvalue.has_value());
    EXPECT_EQ((*items)[1].value, 0U);
    EXPECT_EQ((*items)[2].arrayvalue, "x");
    EXPECT_EQ((*items)[2].value, UINT64_MAX);
    EXPECT_FALSE(decodeJsonDataItems(R"({"name":"a"})"));
    EXPECT_FALSE(decodeJsonDataItems(R"([{"name":"a"}])"));
}

TEST(JsonRecordsTest, WriteValuesRoundTripToTheMergeInput) {
    std::string error;
    const auto areas = decodeWriteValues(
        R"([{"name":"area","data":[{"propName":"OUT.A","value":7,"bitValue":1},{"propName":"g","value":0,"arrayValue":"12"}]}])",
        &error);
    ASSERT_TRUE(areas.has_value()) << error;
    ASSERT_EQ(areas->size(), 1U);
    EXPECT_EQ(
        encodePropJsonList((*areas)[0].data),
        R"([{"bitValue":1,"propName":"OUT.A","value":7},{"arrayValue":"12","propName":"g","value":0}])");
    EXPECT_FALSE(decodeWriteValues(R"([{"name":"area","data":[{"value":1}]}])", &error));
    EXPECT_THAT(error, HasSubstr("propName"));
    EXPECT_FALSE(decodeWriteValues(R"([{"name":"area"}])"));
}

} // namespace
} // namespace wynfc
