#include "app/print_command.h"

#include "app/printer_handover.h"
#include "app/shell_state.h"
#include "print/print_test_page.h"

void PrintCommand()
{
    PRINTDLGA& PrintSetup = Shell.PrintSetup;
    if (!PrintDlgA(&PrintSetup))
        return;
    HandOverPrinter(PrintSetup.hDevMode, PrintSetup.hDevNames, Shell.PageSetup.hDevMode,
                    Shell.PageSetup.hDevNames);
    PrintTestPage(Shell.PageSetup, Shell.PrintMode, Shell.ModeCaption);
}
