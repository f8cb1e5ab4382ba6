#include "print/printer_match.h"

std::string UpperCaseAscii(const std::string& Text)
{
    // Locale-free on purpose: a name's bytes above 0x7F stay exactly as the spooler gave them.
    std::string Upper = Text;
    for (char& Byte : Upper)
    {
        if (Byte >= 'a' && Byte <= 'z')
            Byte = static_cast<char>(Byte - 'a' + 'A');
    }
    return Upper;
}

std::string TrimSpaces(const std::string& Text)
{
    size_t First = Text.find_first_not_of(' ');
    if (First == std::string::npos)
        return std::string();
    size_t Last = Text.find_last_not_of(' ');
    return Text.substr(First, Last - First + 1);
}

int MatchPrinterName(const std::string& Pattern, const char* const* Names, size_t Count, std::string& Match)
{
    std::string Wanted = UpperCaseAscii(Pattern);
    for (size_t Index = 0; Index < Count; ++Index)
    {
        if (Names[Index] == nullptr)
            continue;
        std::string Candidate = TrimSpaces(UpperCaseAscii(Names[Index]));
        if (Candidate.find(Wanted) != std::string::npos)
        {
            Match = Candidate;
            return static_cast<int>(Index);
        }
    }
    return -1;
}
