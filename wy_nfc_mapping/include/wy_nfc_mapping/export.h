#pragma once

// Only what carries this mark leaves the shared library; everything else is hidden.
#define WY_NFC_EXPORT __attribute__((visibility("default")))
