#pragma once
// Helpers for a program that drives another one's windows from outside its thread, as a user
// would: waiting, finding a process's windows, and choosing a printer in a Print dialog.
#include <windows.h>

#include <functional>
#include <string>

// Calls Done every Interval milliseconds until it returns true; false when Milliseconds pass
// first. Each call of Done that looks at windows is a round trip to the Wine server: a driver
// that only needs to see a state soon waits longer between calls than one that times it.
bool WaitFor(const std::function<bool()>& Done, DWORD Milliseconds, DWORD Interval = 2);

// Returns once the window's thread has taken a message from its queue, i.e. it is between
// messages again and not in the middle of creating a dialog.
bool Synchronise(HWND Window, UINT Milliseconds);

DWORD ProcessOf(HWND Window);

// A visible top-level window of Process whose class is ClassName and which Wanted accepts (any
// such window when Wanted is empty); 0 when there is none.
HWND FindProcessWindow(DWORD Process, const char* ClassName, const std::function<bool(HWND)>& Wanted = nullptr);

// Chooses the item Text (compared without regard to case) in a dialog's combo box, telling the
// dialog as a user's choice would; false when it is not there or the choice did not take.
bool ChooseComboItem(HWND Dialog, int ComboId, const char* Text);

// The items of a dialog's combo box, separated by "; ", in UTF-8.
std::string ComboItems(HWND Dialog, int ComboId);

// Chooses Printer (compared without regard to case, as the spooler names queues) in the printer
// list of a Print dialog, telling the dialog as a user's choice would; false when it is not there.
bool PickPrinter(HWND PrintDialog, const char* Printer);

// Whether a dialog is the program's message box, captioned with the program's name, and the text
// it shows.
bool IsMessageBox(HWND Dialog);
std::string MessageText(HWND Box);
