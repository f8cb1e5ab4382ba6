// The records this program hands to the platform must have the sizes the platform expects on
// 32-bit and on 64-bit Windows, and the byte offsets the device-mode handling uses must be the
// platform's.
#include <windows.h>
#include <winspool.h>
#include <commdlg.h>

#include <cstddef>

#include "print/devmode_bytes.h"

#if defined(_WIN64)
static_assert(sizeof(WNDCLASSEXA) == 80, "WNDCLASSEX is 80 bytes");
static_assert(sizeof(PAGESETUPDLGA) == 128, "PAGESETUPDLG is 128 bytes");
static_assert(sizeof(PRINTDLGA) == 120, "PRINTDLG is 120 bytes");
static_assert(sizeof(PRINTER_INFO_2A) == 136, "PRINTER_INFO_2 is 136 bytes");
static_assert(sizeof(DOCINFOA) == 40, "DOCINFO is 40 bytes");
#else
static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEX is 48 bytes");
static_assert(sizeof(PAGESETUPDLGA) == 84, "PAGESETUPDLG is 84 bytes");
static_assert(sizeof(PRINTDLGA) == 66, "PRINTDLG is 66 bytes");
static_assert(sizeof(PRINTER_INFO_2A) == 84, "PRINTER_INFO_2 is 84 bytes");
static_assert(sizeof(DOCINFOA) == 20, "DOCINFO is 20 bytes");
#endif
static_assert(sizeof(DEVNAMES) == 8, "DEVNAMES has an 8-byte header");
static_assert(offsetof(DEVMODEA, dmReserved2) + sizeof(DWORD) == DevModePublicSize,
              "the public members of DEVMODE end at dmReserved2");
