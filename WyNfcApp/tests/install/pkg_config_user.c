/* A C program built against the installed library through pkg-config: loads the installed
 * address map and uses the plain functions on it. Prints what went wrong; exits 1 then. */

#include <wy_nfc_mapping/wy_nfc_mapping.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char* readWhole(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        return NULL;
    }
    char* text = NULL;
    size_t length = 0;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
        char* grown = realloc(text, length + got + 1);
        if (grown == NULL) {
            free(text);
            fclose(file);
            return NULL;
        }
        text = grown;
        memcpy(text + length, chunk, got);
        length += got;
        text[length] = '\0';
    }
    fclose(file);
    return text;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s ADDRESS_MAP\n", argv[0]);
        return 1;
    }
    char* map = readWhole(argv[1]);
    if (map == NULL || loadAddressMapFile(map) != 0) {
        fprintf(stderr, "the address map %s did not load\n", argv[1]);
        return 1;
    }
    free(map);

    int status = 0;
    /* CRC-16/MCRF4XX of "123456789" is 0x6F91. */
    if (getCalcCRC16Result((const unsigned char*)"123456789", 9) != 0x6F91) {
        fprintf(stderr, "wrong CRC\n");
        status = 1;
    }
    const unsigned char aoc[] = {0x01, 0xFF, 0x03, 0x6B};
    char* values = getJsonValuesFromDataByName("nfc_data_addr_dc_aoc", aoc, sizeof aoc);
    if (values == NULL || strstr(values, "875") == NULL) {
        fprintf(stderr, "the output current did not decode: %s\n", values ? values : "(null)");
        status = 1;
    }
    free(values);
    if (getNFCProductPropertiesJsonByName("no_such_area") != NULL) {
        fprintf(stderr, "an unknown area was described\n");
        status = 1;
    }
    const unsigned char uid[8] = {0xE0, 0x04, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    unsigned char frame[512];
    int frameLength = 0;
    getNFCReadMemoryDataByNameCmd(uid, NULL, "nfc_data_addr_dc_aoc", 0, frame, &frameLength);
    if (frameLength < 2) {
        fprintf(stderr, "no read command for an area of the map\n");
        status = 1;
    }
    printf("%s\n", getVersion());
    destroy();
    return status;
}
