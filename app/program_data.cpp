#include "app/shell_state.h"
#include "print/print_job_state.h"

ShellState Shell;
PrintJobState PrintJob;

const char MainWindowClass[] = "PRINTER_QUOMBRIX32";
const char MainWindowTitle[] = "Print Test Program";

void ClearProgramData()
{
    Shell = ShellState{};
    PrintJob = PrintJobState{};
    FontFace.clear();
}
