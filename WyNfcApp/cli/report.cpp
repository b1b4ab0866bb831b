#include "cli/report.h"

#include "work/work_page.h"

#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

namespace wynfc::cli {
namespace {

using nlohmann::json;

constexpr int kNameWidth = 34;

std::string valueOf(const json& entry) {
    if (entry.contains("arrayValue")) {
        return entry["arrayValue"].get<std::string>();
    }
    return entry.contains("value") ? entry["value"].dump() : "-";
}

void printLine(std::ostream& out, const std::string& indent, const std::string& name,
               const std::string& value) {
    out << indent << std::left << std::setw(kNameWidth - static_cast<int>(indent.size())) << name << ' '
        << value << '\n';
}

} // namespace

void printValues(std::ostream& out, const std::string& valuesJson, const std::string& indent) {
    const json values = json::parse(valuesJson, nullptr, false);
    if (!values.is_array()) {
        out << indent << (values.is_null() ? "(no values)" : valuesJson) << '\n';
        return;
    }
    // Bits come before their item: hold them until the item is printed.
    std::vector<const json*> bits;
    for (const json& entry : values) {
        const std::string name = entry.value("name", "?");
        if (entry.value("dataType", "") == "binary") {
            bits.push_back(&entry);
            continue;
        }
        printLine(out, indent, name, valueOf(entry));
        for (const json* bit : bits) {
            printLine(out, indent + "  ", bit->value("name", "?"), valueOf(*bit));
        }
        bits.clear();
    }
}

void printEvent(std::ostream& out, const PageEvent& event) {
    if (event.event != "UPDATE_EVENT") {
        out << event.event << ": " << event.payload << '\n';
        return;
    }
    const size_t colon = event.payload.find(':');
    const std::string key = event.payload.substr(0, colon);
    const std::string text = colon == std::string::npos ? "" : event.payload.substr(colon + 1);
    if (key == "spec") {
        // Capability list, product properties and GTIN, joined with "#".
        static const char* const kParts[] = {"capabilities", "product properties", "GTIN"};
        std::istringstream parts(text);
        std::string part;
        for (const char* title : kParts) {
            std::getline(parts, part, '#');
            out << "[" << title << "]\n";
            printValues(out, part, "  ");
        }
        return;
    }
    const auto area = areaForUpdateKey(key);
    out << "[" << key << (area ? " - " + *area : "") << "]\n";
    printValues(out, text, "  ");
}

std::string eventJson(const PageEvent& event) {
    return json{{"event", event.event}, {"payload", event.payload}}.dump();
}

std::string outcomeJson(const JobOutcome& outcome) {
    json detail = outcome.detail.empty() ? json(nullptr) : json(outcome.detail);
    return nlohmann::ordered_json{
        {"status", outcome.status}, {"detail", detail}, {"progress", outcome.progress}}
        .dump();
}

std::string progressLine(const std::string& status, float progress) {
    constexpr int kWidth = 30;
    const int filled = std::clamp(static_cast<int>(progress * kWidth), 0, kWidth);
    return "\r[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kWidth - filled), '.') + "] " + status + "\x1b[K";
}

} // namespace wynfc::cli
