#pragma once

/*
 * Exported plain interface of the mapping library.
 *
 * Texts returned as char * are heap copies ended by a zero byte; release them with free().
 * Byte results are written to caller-owned buffers of at least 512 bytes, with their length.
 * A command builder that fails writes the single byte 0x00 with length 1.
 */

#include "wy_nfc_mapping/export.h"

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

WY_NFC_EXPORT extern const double wy_nfc_mappingVersionNumber;
WY_NFC_EXPORT extern const unsigned char wy_nfc_mappingVersionString[];

/* Library version, "CORE_1.1.0"; a static text valid until the process ends. */
WY_NFC_EXPORT const char* getVersion(void);

/* Frees the loaded address map and the library's instance. */
WY_NFC_EXPORT void destroy(void);

/* Loads an address-map JSON text; 0 on success, 1 when the text is not a valid map. */
WY_NFC_EXPORT int loadAddressMapFile(const char* json);

/* Description of a memory area as JSON, or NULL for an unknown area. */
WY_NFC_EXPORT char* getNFCProductPropertiesJsonByName(const char* name);

/* The area's values decoded from its bytes as JSON, or NULL for an unknown area. */
WY_NFC_EXPORT char* getJsonValuesFromDataByName(const char* name, const unsigned char* data, int len);

/* Copies oldData to out, then merges the JSON values into it. *outLen is 0 on failure. */
WY_NFC_EXPORT void updateValuesFromOldDataByName(const char* name, const char* json,
                                                 const unsigned char* oldData, int oldLen, bool fillPadByte,
                                                 bool fillReserveByte, unsigned char* out, int* outLen);

/* Read command of a whole area: ISO 15693 frame, or the reader's host command when isBle is 1. */
WY_NFC_EXPORT void getNFCReadMemoryDataByNameCmd(const unsigned char* uid, void* unused, const char* name,
                                                 int isBle, unsigned char* out, int* outLen);

/* Write command for dataLen bytes of an area, starting blockIndex blocks into it. */
WY_NFC_EXPORT void getNFCWriteMemoryDataByNameCmd(const unsigned char* uid, void* unused,
                                                  const unsigned char* data, int dataLen, int blockIndex,
                                                  const char* name, int isBle, unsigned char* out,
                                                  int* outLen);

/* CRC-16/MCRF4XX of the bytes, 0 to 0xFFFF; 0xFFFF for a length below 1. */
WY_NFC_EXPORT int getCalcCRC16Result(const unsigned char* bytes, int len);

/* Wraps a host command into the reader's request frame; 0 on success, 1 on failure. */
WY_NFC_EXPORT int getBLECmd(const unsigned char* cmd, int len, unsigned char* out, int* outLen);

/* The bytes as text, each "0xHH," ("" for none). */
WY_NFC_EXPORT char* dump(const unsigned char* bytes, int len);

#ifdef __cplusplus
}
#endif
