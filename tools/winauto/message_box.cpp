#include "winauto.h"

#include <cstring>

namespace
{
const char MessageCaption[] = "Print Test Program";
const int MessageTextId = 0xFFFF;  // the static text of a message box
}

bool IsMessageBox(HWND Dialog)
{
    char Caption[64] = {};
    GetWindowTextA(Dialog, Caption, sizeof(Caption));
    return std::strcmp(Caption, MessageCaption) == 0;
}

std::string MessageText(HWND Box)
{
    char Text[256] = {};
    GetDlgItemTextA(Box, MessageTextId, Text, sizeof(Text));
    return Text;
}
