#include "winauto.h"

namespace
{
// Longer texts are no paper or printer names.
const int LongestText = 255;

std::wstring ItemText(HWND Combo, LRESULT Index)
{
    wchar_t Text[LongestText + 1] = {};
    if (SendMessageW(Combo, CB_GETLBTEXTLEN, Index, 0) > LongestText)
        return L"";
    SendMessageW(Combo, CB_GETLBTEXT, Index, reinterpret_cast<LPARAM>(Text));
    return Text;
}
}  // namespace

// The lists hold wide strings; the ANSI forms of the messages do not reach them across processes.
bool ChooseComboItem(HWND Dialog, int ComboId, const char* Text)
{
    HWND Combo = GetDlgItem(Dialog, ComboId);
    if (!Combo)
        return false;
    wchar_t Wanted[LongestText + 1] = {};
    MultiByteToWideChar(CP_ACP, 0, Text, -1, Wanted, LongestText);
    LRESULT Count = SendMessageW(Combo, CB_GETCOUNT, 0, 0);
    for (LRESULT Index = 0; Index < Count; ++Index)
    {
        if (lstrcmpiW(ItemText(Combo, Index).c_str(), Wanted) != 0)
            continue;
        SendMessageW(Combo, CB_SETCURSEL, Index, 0);
        // What the combo box tells its dialog when the user picks an entry.
        SendMessageW(Dialog, WM_COMMAND, MAKEWPARAM(ComboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Combo));
        return SendMessageW(Combo, CB_GETCURSEL, 0, 0) == Index;
    }
    return false;
}

std::string ComboItems(HWND Dialog, int ComboId)
{
    HWND Combo = GetDlgItem(Dialog, ComboId);
    std::string Items;
    LRESULT Count = Combo ? SendMessageW(Combo, CB_GETCOUNT, 0, 0) : 0;
    for (LRESULT Index = 0; Index < Count; ++Index)
    {
        char Text[4 * LongestText + 1] = {};
        WideCharToMultiByte(CP_UTF8, 0, ItemText(Combo, Index).c_str(), -1, Text, sizeof(Text) - 1, nullptr, nullptr);
        Items += (Index ? "; " : "") + std::string(Text);
    }
    return Items;
}
