#include "winauto.h"

#include <dlgs.h>

bool PickPrinter(HWND PrintDialog, const char* Printer) { return ChooseComboItem(PrintDialog, cmb4, Printer); }
