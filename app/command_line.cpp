#include "app/command_line.h"

const char* SkipProgramName(const char* CommandLine)
{
    const unsigned char* Cursor = reinterpret_cast<const unsigned char*>(CommandLine);
    if (*Cursor == '"')
    {
        ++Cursor;
        while (*Cursor != '\0' && *Cursor != '"')
            ++Cursor;
        if (*Cursor == '"')
            ++Cursor;
    }
    else
    {
        while (*Cursor > ' ')
            ++Cursor;
    }
    while (*Cursor == ' ')
        ++Cursor;
    return reinterpret_cast<const char*>(Cursor);
}
