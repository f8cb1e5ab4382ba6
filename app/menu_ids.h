#pragma once

// Commands of the File menu.
enum MenuCommand
{
    IDM_PAGESETUP = 1,
    IDM_PRINT = 2,
    IDM_MODE_DIRECT = 3,
    IDM_MODE_BITMAP = 4,
    IDM_EXIT = 5,
};
