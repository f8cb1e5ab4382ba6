#include "app/shell_state.h"
#include "print/print_job_state.h"

ShellState Shell;
PrintJobState PrintJob;
std::string FontFace;

const char MainWindowClass[] = "PRINTER_QUOMBRIX32";
const char MainWindowTitle[] = "Print Test Program";
const char DirectModeCaption[] = "Print Mode: Direct Print";
const char BitmapModeCaption[] = "Print Mode: Bitmap Print";

void ClearProgramData()
{
    Shell = ShellState{};
    PrintJob = PrintJobState{};
    FontFace.clear();
}
