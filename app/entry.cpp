#include "app/command_line.h"
#include "app/shell_state.h"

// The process entry: the runtime calls main for a GUI program too, so this is where the
// arguments of WinMain are worked out from the process's own start-up information.
int main()
{
    ClearProgramData();

    STARTUPINFOA StartupInfo = {};
    StartupInfo.cb = sizeof(StartupInfo);
    GetStartupInfoA(&StartupInfo);
    int ShowCommand = (StartupInfo.dwFlags & STARTF_USESHOWWINDOW) ? StartupInfo.wShowWindow
                                                                   : SW_SHOWDEFAULT;

    HINSTANCE Instance = GetModuleHandleA(nullptr);
    LPSTR Arguments = const_cast<LPSTR>(SkipProgramName(GetCommandLineA()));
    ExitProcess(static_cast<UINT>(WinMain(Instance, nullptr, Arguments, ShowCommand)));
}
