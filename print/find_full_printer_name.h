#pragma once

#include <string>

// Replaces a device name that the dialogs may have cut short by the full name, upper-cased, of
// the first installed printer that contains it. Returns 1 when one was found, else 0 with
// DeviceName unchanged.
int FindFullPrinterName(std::string& DeviceName);
