#pragma once

#include <windows.h>

// Gives the DEVMODE and DEVNAMES memory of one dialog record to the other. What the receiver
// held is freed unless it is the very handle it receives, so no handle is freed while a record
// still keeps it.
void HandOverPrinter(HGLOBAL FromDevMode, HGLOBAL FromDevNames, HGLOBAL& ToDevMode, HGLOBAL& ToDevNames);
