#pragma once

#include <windows.h>

#include <string>

// Draws the test page inside PageRect on any device in MM_TEXT mode.
// Direct mode (PrintMode 0) draws on hTargetDC; hDrawDC is 0 on return, hPageBitmap untouched.
// Bitmap mode (PrintMode 1) renders into a new memory DC holding a new W x H bitmap in the
// colour format of hTargetDC, or of the screen when hTargetDC is 0, and hands both to the
// caller, who releases them (the DC first). Whatever the two slots held before is not released.
int DrawTestPage(HDC& hTargetDC, HDC& hDrawDC, HBITMAP& hPageBitmap, RECT& PageRect,
                 std::string& PageText, int& PrintMode);
