#include "item_layout.h"

namespace wy_nfc_mapping {

ItemKind itemKindOf(const std::string& dataType) {
    if (dataType == "byte") {
        return ItemKind::Byte;
    }
    if (dataType == "short") {
        return ItemKind::Short;
    }
    if (dataType == "smallint") {
        return ItemKind::SmallInt;
    }
    if (dataType == "int") {
        return ItemKind::Int;
    }
    if (dataType == "bigint") {
        return ItemKind::BigInt;
    }
    if (dataType == "array") {
        return ItemKind::Array;
    }
    return ItemKind::Other;
}

int byteIndexCountOf(ItemKind kind) {
    switch (kind) {
    case ItemKind::Byte:
        return 1;
    case ItemKind::Short:
    case ItemKind::BigInt:
    case ItemKind::Array:
        return 2;
    case ItemKind::SmallInt:
        return 3;
    case ItemKind::Int:
        return 4;
    case ItemKind::Other:
        break;
    }
    return 0;
}

bool isIntegerKind(ItemKind kind) {
    return kind == ItemKind::Byte || kind == ItemKind::Short || kind == ItemKind::SmallInt ||
           kind == ItemKind::Int;
}

std::optional<ByteRun> byteRunOf(const DataValueItem& item) {
    const ByteRun run{item.bytes[0], item.bytes[1]};
    if (run.last < run.first) {
        return std::nullopt;
    }
    return run;
}

} // namespace wy_nfc_mapping
