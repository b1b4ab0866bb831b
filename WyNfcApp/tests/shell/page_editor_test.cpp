// The configuration page in the real WebKit: what it shows of a driver, what it lets a person
// change, what it sends to be written, and the profiles it saves and takes back.

#include "page_test_support.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <functional>
#include <set>

namespace wynfc::shell::test {
namespace {

using nlohmann::json;

const std::string kAoc = "nfc_data_addr_dc_aoc";
const std::string kMb1 = "nfc_data_addr_dc_memory_bank_01";
const std::string kDali = "nfc_data_addr_dc_dali_setting";

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
        output.append(buffer, n);
    }
    pclose(pipe);
    return output;
}

class PageEditor : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        if (loadsTheProductsPage()) {
            loadPage(WYNFC_RESOURCES_DIR);
        }
    }
    virtual bool loadsTheProductsPage() const { return true; }

    bool writeEnabled() { return eval("!document.getElementById('write').disabled") == "true"; }
    std::string errorAt(const std::string& path) {
        return eval("(() => { const c = document.querySelector('[data-path=\"" + path +
                    "\"]'); const row = c && c.closest('.field'); return row && "
                    "row.classList.contains('invalid') ? "
                    "row.querySelector('.error').textContent : ''; })()")
            .value_or("");
    }
    std::string text(const std::string& selector) {
        return eval("(document.querySelector('" + selector + "') || {}).textContent || ''").value_or("");
    }

    // Write, review, confirm: the page asks for write mode and holds its request.
    void writeThroughReview() {
        ASSERT_TRUE(click("write"));
        ASSERT_TRUE(waitFor("!document.getElementById('review').hidden"));
        ASSERT_TRUE(click("review-confirm"));
        ASSERT_EQ(takePosted(), std::vector<std::string>{"SHOW_WRITE_MODE_POPUP:"});
    }

    // The items of a read sample's area decoded from the tag after `wynfc write` with
    // `values` as its values file.
    std::filesystem::path writtenBy(const std::string& values, const std::string& sample) {
        const auto dir = mHome / "cli";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "values.json") << values;
        const auto saved = dir / "written.json";
        const std::string out =
            run(std::string(WYNFC_CLI) + " write --no-verify --tag '" + WYNFC_RESOURCES_DIR + "/samples/" +
                sample + ".json' --values '" + (dir / "values.json").string() + "' --save '" +
                saved.string() + "' 2>&1");
        EXPECT_TRUE(std::filesystem::exists(saved)) << out;
        return saved;
    }
};

TEST_F(PageEditor, AReadShowsEachValueExplainedAndOnlyTheSettingsEditable) {
    feedRead("full_feature");
    ASSERT_TRUE(waitFor("document.querySelectorAll('section.group').length > 10"));
    EXPECT_EQ(valueAt(kAoc + ".output_current"), "700");
    EXPECT_EQ(valueAt(kAoc + ".aoc_config.aoc_enable"), "1");
    EXPECT_EQ(valueAt(kAoc + ".aoc_config.ledset_enable"), "0");
    EXPECT_EQ(valueAt(kMb1 + ".luminaire_identification"), "WY LINEA TW 1500");
    EXPECT_EQ(valueAt(kMb1 + ".luminaire_gtin"), "7612345670010");
    EXPECT_EQ(valueAt(kDali + ".fade_time"), "2") << "a named value is a choice";
    EXPECT_EQ(eval("document.querySelector('[data-path=\"" + kDali + ".fade_time\"]').tagName"), "SELECT");
    // Labels, not raw names; the label belongs to its control.
    EXPECT_EQ(eval("document.querySelector('[data-path=\"" + kAoc +
                   ".output_current\"]').labels[0].textContent.includes('_')"),
              "false");

    // Identification, product description and measurements are shown, never editable.
    for (const std::string& path :
         std::vector<std::string>{"nfc_data_addr_dc_product_identification.device_type",
                                  "nfc_data_addr_led_product_properties.model_name",
                                  "nfc_data_addr_dc_diagnostics_read.operating_time",
                                  "nfc_data_addr_dc_dim_percentage_limit.physical_min_level",
                                  kMb1 + ".memory_bank_version", kAoc + ".reserve"}) {
        EXPECT_EQ(eval("document.querySelector('[data-path=\"" + path + "\"]').tagName"), "OUTPUT") << path;
    }
    EXPECT_EQ(valueAt("nfc_data_addr_dc_product_identification.device_type"), "18");
    EXPECT_EQ(eval("document.querySelectorAll('input[data-path], select[data-path]').length > 100"), "true");
    EXPECT_EQ(eval("document.querySelectorAll('#summary .capabilities li').length"), "24")
        << "every capability of the full-feature driver is listed as supported";
    // Identification first, diagnostics last.
    EXPECT_EQ(eval("document.querySelector('section.group').contains(document.querySelector('[data-path=\""
                   "nfc_data_addr_dc_product_identification.device_type\"]'))"),
              "true");
    EXPECT_EQ(eval("[...document.querySelectorAll('section.group')].pop().querySelector('[data-path^=\""
                   "nfc_data_addr_dc_diagnostics_read\"]') !== null"),
              "true");
    EXPECT_FALSE(writeEnabled()) << "nothing changed, nothing to write";
    pageScreenshot("page-full-feature");
    resize(800, 600);
    pageScreenshot("page-full-feature-800x600");
    resize(1920, 1080);
    pageScreenshot("page-full-feature-1920x1080");

    // A single-channel driver shows only the areas it announces.
    feedRead("basic");
    ASSERT_TRUE(waitFor("document.querySelector('[data-path^=\"nfc_data_addr_dc_clo\"]') === null"));
    EXPECT_EQ(valueAt(kAoc + ".output_current"), "500");
    EXPECT_EQ(valueAt("nfc_data_addr_dc_dali_addressing.short_address"), "255");
    EXPECT_EQ(eval("document.querySelectorAll('#summary .capabilities li').length"), "6");
}

TEST_F(PageEditor, WriteSendsOnlyTheChangesOnceAndAReadShowsWhetherTheyArrived) {
    feedRead("full_feature");
    set(kAoc + ".output_current", "650");
    set(kAoc + ".aoc_config.aoc_enable", "0");
    set(kAoc + ".aoc_config.ledset_enable", "1");
    set(kMb1 + ".luminaire_gtin", "4012345000009");
    set(kMb1 + ".luminaire_identification", "WY LINEA TW 1200");
    ASSERT_TRUE(writeEnabled());
    EXPECT_EQ(text("#change-count"), "4 changes");
    EXPECT_EQ(eval("document.querySelectorAll('.field.changed').length"), "4");
    EXPECT_TRUE(takePosted().empty()) << "editing sends nothing";

    ASSERT_TRUE(click("write"));
    ASSERT_TRUE(waitFor("!document.getElementById('review').hidden"));
    const std::string review = text("#review-list");
    EXPECT_NE(review.find("700 mA \u2192 650 mA"), std::string::npos) << review;
    EXPECT_NE(review.find("7612345670010 \u2192 4012345000009"), std::string::npos) << review;
    pageScreenshot("page-review");
    ASSERT_TRUE(click("review-confirm"));
    ASSERT_EQ(takePosted(), std::vector<std::string>{"SHOW_WRITE_MODE_POPUP:"});

    // The reader repeats its event while the tag lies there; the request goes once.
    for (int i = 0; i < 3; ++i) {
        feed("NOTIFY_EVENT", "WRITE_EVENT");
    }
    const auto posted = takePosted();
    ASSERT_EQ(posted.size(), 1u);
    const std::string expectedList =
        R"([{"name":"nfc_data_addr_dc_memory_bank_01","data":[)"
        R"({"propName":"luminaire_gtin","value":0,"arrayValue":"4012345000009"},)"
        R"({"propName":"luminaire_identification","value":0,"arrayValue":")"
        R"(0x57,0x59,0x20,0x4C,0x49,0x4E,0x45,0x41,0x20,0x54,0x57,0x20,0x31,0x32,0x30,0x30,)"
        R"(0x00,0x00,0x00,0x00,0x00,0x00,0x00,0x00,"}]},)"
        R"({"name":"nfc_data_addr_dc_aoc","data":[)"
        R"({"propName":"aoc_config.aoc_enable","value":1,"bitValue":0},)"
        R"({"propName":"aoc_config.ledset_enable","value":0,"bitValue":1},)"
        R"({"propName":"output_current","value":650}]}])";
    EXPECT_EQ(posted[0], "WRITE_DATA:18,16:" + expectedList);

    // The driver did not take them: a read keeps every change, marked, for another write.
    feedRead("full_feature");
    ASSERT_TRUE(waitFor("document.getElementById('alert').textContent.includes('did not reach')"));
    EXPECT_EQ(eval("document.querySelectorAll('.field.changed').length"), "4");
    EXPECT_EQ(valueAt(kAoc + ".output_current"), "650");

    // The same request, written by the command line, is what a read then finds.
    writeThroughReview();
    feed("NOTIFY_EVENT", "WRITE_EVENT");
    ASSERT_EQ(takePosted().size(), 1u);
    const auto written = writtenBy(expectedList, "full_feature");
    for (const auto& [event, payload] : recordedRead(written.string())) {
        feed(event, payload);
    }
    ASSERT_TRUE(waitFor("document.getElementById('status').textContent.includes('holds all 4 changes')"));
    EXPECT_EQ(eval("document.querySelectorAll('.field.changed').length"), "0");
    EXPECT_EQ(valueAt(kAoc + ".aoc_config.ledset_enable"), "1");
    EXPECT_EQ(valueAt(kAoc + ".aoc_config.aoc_enable"), "0") << "both bits of one item arrive";
}

TEST_F(PageEditor, AValueTheDriverCannotHoldIsRefusedAtItsFieldAndNothingIsSent) {
    feedRead("full_feature");
    struct Case {
        std::string path, input, reason;
    };
    const std::vector<Case> cases = {
        {kAoc + ".output_current", "2000", "from 200 to 1050 mA"},
        {kAoc + ".output_current", "12a", "whole number"},
        {kAoc + ".output_current", "1.5", "decimal point"},
        {kAoc + ".output_current", "", "Enter a number"},
        {kMb1 + ".luminaire_gtin", "40123x", "digits only"},
        {kMb1 + ".luminaire_gtin", "4012345000008", "check digit"},
        {kMb1 + ".luminaire_identification", std::string(25, 'A'), "At most 24 characters"},
        {kMb1 + ".luminaire_identification", "Caf\u00e9", "cannot be stored"},
        {"nfc_data_addr_dc_dali_addressing.short_address", "64", "or 255"},
    };
    for (const Case& c : cases) {
        set(c.path, c.input);
        EXPECT_NE(errorAt(c.path).find(c.reason), std::string::npos)
            << c.path << " = " << c.input << ": " << errorAt(c.path);
        EXPECT_FALSE(writeEnabled()) << c.path << " = " << c.input;
        EXPECT_FALSE(click("write"));
        EXPECT_EQ(eval("document.activeElement.getAttribute('aria-invalid')"), "true");
        if (c.path == kAoc + ".output_current" && c.input == "2000") {
            eval("document.activeElement.scrollIntoView({block: 'center'}); true");
            pageScreenshot("page-invalid-field");
        }
        set(c.path, eval("WyPage.editor.field('" + c.path + "').inputText(WyPage.editor.field('" + c.path +
                         "').original)")
                        .value_or(""));
        EXPECT_EQ(errorAt(c.path), "") << c.path;
    }

    // A bound that follows another value: the minimum level may not pass the maximum.
    set(kDali + ".min_level", "220");
    EXPECT_EQ(errorAt(kDali + ".min_level"), "");
    set(kDali + ".max_level", "200");
    EXPECT_NE(errorAt(kDali + ".min_level").find("from 1 to 200"), std::string::npos);
    EXPECT_FALSE(writeEnabled());
    set(kDali + ".max_level", "254");
    EXPECT_TRUE(writeEnabled());

    // Bytes that are not text are edited as hexadecimal bytes, exactly as many as the item has.
    json mb207 = json::parse(recordedRead("full_feature").back().second.substr(0, 0) + "[]");
    for (const auto& [event, payload] : recordedRead("full_feature")) {
        if (payload.rfind("memory_bank_207_data:", 0) == 0) {
            mb207 = json::parse(payload.substr(payload.find(':') + 1));
        }
    }
    for (auto& item : mb207) {
        if (item["name"] == "service_reference") {
            item["arrayValue"] = "0xFF,0xFF,0xFF,0xFF,0xFF,0xFF,0xFF,0xFF,";
        }
    }
    feed("UPDATE_EVENT", "memory_bank_207_data:" + mb207.dump());
    const std::string bytes = "nfc_data_addr_dc_memory_bank_207.service_reference";
    ASSERT_TRUE(waitFor("document.querySelector('[data-path=\"" + bytes +
                        "\"]').value === 'FF FF FF FF FF FF FF FF'"));
    set(bytes, "FF FF");
    EXPECT_NE(errorAt(bytes).find("exactly 8 bytes; you entered 2"), std::string::npos) << errorAt(bytes);
    set(bytes, "0x01 0x02 0x03 0x04 0x05 0x06 0x07 0xGG");
    EXPECT_NE(errorAt(bytes).find("0xGG"), std::string::npos) << errorAt(bytes);
    EXPECT_FALSE(writeEnabled());
    set(bytes, "0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08");
    EXPECT_TRUE(writeEnabled());
    EXPECT_TRUE(posted("SHOW_WRITE_MODE_POPUP").empty());
    EXPECT_TRUE(posted("WRITE_DATA").empty());
}

TEST_F(PageEditor, AProfileSavedFromOneDriverIsCheckedAndMarkedOnAnother) {
    feedRead("full_feature");
    set(kAoc + ".output_current", "650");
    ASSERT_TRUE(click("export"));
    const auto exports = takePosted();
    ASSERT_EQ(exports.size(), 1u);
    ASSERT_EQ(exports[0].rfind("EXPORT_PROFILE:", 0), 0u);
    const json request = json::parse(exports[0].substr(std::string("EXPORT_PROFILE:").size()));
    EXPECT_EQ(request["suggestedName"], "WYT-50TW-profile.json");
    const std::string profileText = request["text"];
    const json profile = json::parse(profileText);
    std::set<std::string> areas;
    for (const auto& group : profile) {
        areas.insert(group["name"].get<std::string>());
        for (const auto& entry : group["data"]) {
            EXPECT_EQ(entry["propName"].get<std::string>().find('.'), std::string::npos) << "whole values";
            if (group["name"] == kAoc && entry["propName"] == "output_current") {
                EXPECT_EQ(entry["value"], 650) << "the value as edited";
            }
            EXPECT_NE(entry["propName"], "reserve");
            EXPECT_NE(entry["propName"], "random_address") << "a driver's own address is not copied";
        }
    }
    EXPECT_EQ(areas.count("nfc_data_addr_dc_product_identification"), 0u);
    EXPECT_EQ(areas.count("nfc_data_addr_dc_diagnostics_read"), 0u) << "measurements are not settings";
    feed("PROFILE_EVENT", R"({"request":"EXPORT_PROFILE","outcome":"saved","file":"/tmp/p.json"})");
    ASSERT_TRUE(waitFor("document.getElementById('status').textContent.includes('/tmp/p.json')"));

    // The command line takes the same file.
    const auto written = writtenBy(profileText, "basic");
    const std::string decoded =
        run(std::string(WYNFC_CLI) + " decode --area " + kAoc + " --tag '" + written.string() + "' --json");
    EXPECT_NE(decoded.find(R"("name":"output_current","value":650)"), std::string::npos) << decoded;

    // On another driver: only what differs is marked; what it cannot hold is refused at the
    // field; the areas it does not have are skipped.
    feedRead("basic");
    ASSERT_TRUE(waitFor("document.getElementById('alert').textContent.includes('Another kind of driver')"));
    feed("PROFILE_EVENT", json{{"request", "IMPORT_PROFILE"},
                               {"outcome", "loaded"},
                               {"file", "/tmp/p.json"},
                               {"text", profileText}}
                              .dump());
    ASSERT_TRUE(waitFor("document.getElementById('status').textContent.includes('to review')"))
        << text("#alert") << " / " << text("#status");
    const std::string changed = eval("[...document.querySelectorAll('.field.changed [data-path]')].map((c) "
                                     "=> c.dataset.path).join(' ')")
                                    .value_or("");
    for (const std::string& path : std::vector<std::string>{
             kAoc + ".output_current", "nfc_data_addr_dc_dali_addressing.short_address", kDali + ".min_level",
             "nfc_data_addr_dc_dim_percentage_limit.dim_limit_config.dim_limit_enable"}) {
        EXPECT_NE(changed.find(path), std::string::npos) << path << " in " << changed;
    }
    EXPECT_EQ(changed.find("nfc_data_addr_dc_dali_addressing.random_address"), std::string::npos);
    EXPECT_NE(text("#status").find("skipped"), std::string::npos) << text("#status");
    EXPECT_NE(errorAt(kDali + ".min_level").find("from 85"), std::string::npos)
        << "this driver's physical minimum is 85: " << errorAt(kDali + ".min_level");
    EXPECT_FALSE(writeEnabled());

    // A profile naming what this map does not have is refused whole.
    set(kDali + ".min_level", "85");
    const int before = std::stoi(eval("document.querySelectorAll('.field.changed').length").value_or("0"));
    feed("PROFILE_EVENT",
         json{{"request", "IMPORT_PROFILE"},
              {"outcome", "loaded"},
              {"file", "/tmp/typo.json"},
              {"text",
               R"([{"name":"nfc_data_addr_dc_aoc","data":[{"propName":"output_curent","value":600}]}])"}}
             .dump());
    ASSERT_TRUE(waitFor("document.getElementById('alert').textContent.includes('output_curent')"));
    EXPECT_NE(text("#alert").find("was not used"), std::string::npos);
    EXPECT_EQ(eval("document.querySelectorAll('.field.changed').length"), std::to_string(before));
    feed("PROFILE_EVENT",
         R"({"request":"IMPORT_PROFILE","outcome":"failed","message":"Could not open /x: gone"})");
    ASSERT_TRUE(waitFor("document.getElementById('alert').textContent === 'Could not open /x: gone'"));
}

// What a keyboard or screen-reader user relies on, and text a person can read: every control
// named by its label and described by its help and error, messages announced, and every text
// at least 4.5:1 against what lies behind it, in each state a value can be in.
TEST_F(PageEditor, EveryControlIsNamedDescribedAndReadable) {
    feedRead("full_feature");
    set(kAoc + ".output_current", "2000"); // invalid
    set(kDali + ".max_level", "230");      // changed
    const std::string unnamed = eval(R"((() => {
        const bad = [];
        for (const c of document.querySelectorAll('input, select, button')) {
          if (c.closest('[hidden]')) continue;
          const named = (c.labels && c.labels.length && c.labels[0].textContent.trim()) ||
                        c.getAttribute('aria-label') || (c.tagName === 'BUTTON' && c.textContent.trim());
          if (!named) bad.push(c.dataset.path || c.id || c.outerHTML.slice(0, 60));
          for (const id of (c.getAttribute('aria-describedby') || '').split(' ').filter(Boolean))
            if (!document.getElementById(id)) bad.push((c.dataset.path || c.id) + ' -> ' + id);
          if (c.tabIndex < 0) bad.push('not reachable: ' + (c.dataset.path || c.id));
        }
        return bad.join(', ');
      })())")
                                    .value_or("?");
    EXPECT_EQ(unnamed, "");
    EXPECT_EQ(eval("document.getElementById('status').getAttribute('aria-live')"), "polite");
    EXPECT_EQ(eval("document.getElementById('alert').getAttribute('role')"), "alert");
    EXPECT_EQ(eval("document.querySelector('[data-path=\"" + kAoc +
                   ".output_current\"]').getAttribute('aria-describedby').split(' ').map((id) => "
                   "document.getElementById(id).textContent).join(' ').includes('Must be from')"),
              "true")
        << "the reason is read out with the field";

    const std::string contrast = eval(R"((() => {
        const rgb = (c) => c.match(/[\d.]+/g).map(Number);
        const lum = ([r, g, b]) => [r, g, b].map((v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; })
                                 .reduce((s, v, i) => s + v * [0.2126, 0.7152, 0.0722][i], 0);
        const background = (node) => {
          for (let n = node; n; n = n.parentElement) {
            const c = rgb(getComputedStyle(n).backgroundColor);
            if (c.length < 4 || c[3] > 0.9) return c;
          }
          return [255, 255, 255];
        };
        const bad = [];
        for (const node of document.querySelectorAll('body *')) {
          if (!node.offsetParent || ![...node.childNodes].some((t) => t.nodeType === 3 && t.textContent.trim())) continue;
          const [a, b] = [lum(rgb(getComputedStyle(node).color)), lum(background(node))];
          const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
          if (ratio < 4.5) bad.push(node.tagName + '.' + node.className + ' "' + node.textContent.trim().slice(0, 20) + '" ' + ratio.toFixed(2));
        }
        return bad.slice(0, 10).join('; ');
      })())")
                                     .value_or("?");
    EXPECT_EQ(contrast, "");
}

TEST_F(PageEditor, TextsFromTheDriverOrAFileAreShownAsTextNeverAsMarkup) {
    feedRead("full_feature");
    const std::string hostile = "<img src=x onerror=\"window.pwned=1\"><script>window.pwned=2</script>";
    const std::string quoted = "it's \"quoted\"\nand </script> broken";
    json aoc = json::array({{{"dataType", "byte"}, {"name", hostile}, {"value", 1}},
                            {{"dataType", "byte"}, {"name", quoted}, {"value", 2}},
                            {{"dataType", "short"}, {"name", "output_current"}, {"value", 700}}});
    feed("UPDATE_EVENT", "aoc_data:" + aoc.dump());
    feed("UPDATE_EVENT", "dali_setting_data:[{\"name\":\"" + std::string("x\\u2028y") +
                             "\",\"dataType\":\"byte\",\"value\":3}]");
    ASSERT_TRUE(
        waitFor("document.getElementById('groups').textContent.includes('s \"quoted\"\\nand <\\/script>')"))
        << text("#alert") << " / " << text("#status");
    EXPECT_EQ(eval("document.getElementById('groups').textContent.includes(" + json(hostile).dump() + ")"),
              "true");
    EXPECT_EQ(eval("document.querySelectorAll('#groups img, #groups script').length"), "0");
    feed("PROFILE_EVENT", json{{"request", "IMPORT_PROFILE"},
                               {"outcome", "loaded"},
                               {"file", hostile},
                               {"text", "[{\"name\":\"" + std::string("<b>x</b>") + "\",\"data\":[]}]"}}
                              .dump());
    ASSERT_TRUE(waitFor("document.getElementById('alert').textContent.includes('<b>x</b>')"));
    EXPECT_EQ(eval("document.querySelectorAll('#alert *').length"), "0");
    feed("UPDATE_EVENT", "clo_data:not json");
    ASSERT_TRUE(waitFor("document.getElementById('alert').textContent.includes('clo_data')"));
    EXPECT_EQ(eval("String(window.pwned)"), "undefined");
}

// A page whose resources are newer or older than the values it is shown.
class PageWithOtherData : public PageEditor {
protected:
    bool loadsTheProductsPage() const override { return false; }

    // A copy of the product's resources, with the catalogue as `change` leaves it.
    std::filesystem::path resourcesWith(const std::function<void(json&)>& change) {
        const auto folder = mHome / "resources";
        std::filesystem::copy(WYNFC_RESOURCES_DIR, folder, std::filesystem::copy_options::recursive);
        json catalogue = json::parse(std::ifstream(folder / "field_catalogue.json"));
        change(catalogue);
        std::ofstream(folder / "field_catalogue.json") << catalogue.dump();
        return folder;
    }
};

// A value the catalogue does not describe is shown by its own name and edited within its
// type; values that arrive before the page's data wait for them.
TEST_F(PageWithOtherData, AValueWithoutDescriptionIsStillShownAndChecked) {
    loadPage(resourcesWith([](json& c) { c["areas"][kAoc]["items"].erase("output_current"); }), false);
    feedRead("full_feature");
    EXPECT_EQ(eval("document.querySelectorAll('section.group').length"), "0") << "no values before the data";
    answerPageData();
    ASSERT_TRUE(waitFor("document.querySelectorAll('section.group').length > 10"));
    EXPECT_EQ(
        eval("document.querySelector('[data-path=\"" + kAoc + ".output_current\"]').labels[0].textContent"),
        "Output current");
    set(kAoc + ".output_current", "2000");
    EXPECT_EQ(errorAt(kAoc + ".output_current"), "") << "within a short's range";
    set(kAoc + ".output_current", "70000");
    EXPECT_NE(errorAt(kAoc + ".output_current").find("from 0 to 65535"), std::string::npos);
    EXPECT_EQ(valueAt("nfc_data_addr_dc_dali_setting.max_level"), "254") << "the other values are described";
}

} // namespace
} // namespace wynfc::shell::test
