#pragma once

#include <windows.h>
#include <commdlg.h>
#include <winspool.h>

#include <string>

// Prints the test page as a one-page job on the printer held by PageSetup's DEVMODE and
// DEVNAMES, in PrintMode, with ModeCaption as the document name. Reports its own failures.
void PrintTestPage(PAGESETUPDLGA& PageSetup, int& PrintMode, std::string& ModeCaption);

// Caption of the program's message boxes.
extern const char MessageCaption[];
