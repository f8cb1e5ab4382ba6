#include "app/printer_handover.h"

void HandOverPrinter(HGLOBAL FromDevMode, HGLOBAL FromDevNames, HGLOBAL& ToDevMode, HGLOBAL& ToDevNames)
{
    if (ToDevMode && ToDevMode != FromDevMode)
        GlobalFree(ToDevMode);
    if (ToDevNames && ToDevNames != FromDevNames)
        GlobalFree(ToDevNames);
    ToDevMode = FromDevMode;
    ToDevNames = FromDevNames;
}
