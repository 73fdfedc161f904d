// The program's version: its version resource and its log both take it from here.
#pragma once

#define WC_VERSION_NUMBERS 1, 0, 0, 0
#define WC_VERSION_TEXT "1.0.0.0"
