#!/usr/bin/env bash
# The shared library exports its plain functions, its version data and ApiHeader; nothing else.
set -euo pipefail
lib=$1
expected="destroy dump getBLECmd getCalcCRC16Result getJsonValuesFromDataByName getNFCProductPropertiesJsonByName
getNFCReadMemoryDataByNameCmd getNFCWriteMemoryDataByNameCmd getVersion loadAddressMapFile
updateValuesFromOldDataByName wy_nfc_mappingVersionNumber wy_nfc_mappingVersionString"

symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
status=0
for name in $expected; do
    grep -qx "$name" <<<"$symbols" || { echo "missing export: $name"; status=1; }
done
while read -r symbol; do
    [[ -z "$symbol" ]] && continue
    grep -qw -- "$symbol" <<<"$expected" && continue
    demangled=$(c++filt "$symbol")
    [[ "$demangled" == ApiHeader::* ]] && continue
    echo "unexpected export: $demangled"
    status=1
done <<<"$symbols"
exit $status
