#include "print/prepare_dev_mode.h"

#include <string>

int PrepareDevMode(HWND& Owner, HANDLE& Printer, unsigned char (&SavedDevMode)[DevModePublicSize],
                   std::vector<unsigned char>& DevModeOut, std::vector<unsigned char>& DevModeIn)
{
    std::string DeviceName = DevModeDeviceName(SavedDevMode);
    LONG DevModeSize = DocumentPropertiesA(Owner, Printer, &DeviceName[0], nullptr, nullptr, 0);
    if (DevModeSize <= 0)
    {
        DevModeOut.clear();
        DevModeIn.clear();
        return 0;
    }

    DevModeOut.assign(static_cast<size_t>(DevModeSize), ' ');
    DevModeIn = DevModeOut;
    DocumentPropertiesA(Owner, Printer, &DeviceName[0], reinterpret_cast<DEVMODEA*>(DevModeOut.data()),
                        reinterpret_cast<DEVMODEA*>(DevModeIn.data()), DM_OUT_BUFFER);

    unsigned char CurrentDevMode[DevModePublicSize];
    CurrentDevModeFrom(DevModeOut, CurrentDevMode);
    MarkChangedFields(SavedDevMode, CurrentDevMode);
    AssembleDevModeBuffers(SavedDevMode, DevModeOut, DevModeIn);
    return 0;
}
