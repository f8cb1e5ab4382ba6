#include "print/print_test_page.h"

#include <cstring>
#include <string>

#include "print/cancel_dialog.h"
#include "print/devnames_parse.h"
#include "print/find_full_printer_name.h"
#include "print/output_printed_page.h"
#include "print/prepare_dev_mode.h"
#include "print/print_job_state.h"

const char MessageCaption[] = "Print Test Program";

namespace
{

// Device names this long may have been cut short by the dialogs.
const size_t LongestUncutName = 30;

void ShowJobMessage(const char* Text)
{
    MessageBoxA(nullptr, Text, MessageCaption, MB_OK);
}

void CopyCaption(char* Target, size_t TargetSize, const std::string& Text)
{
    std::strncpy(Target, Text.c_str(), TargetSize - 1);
    Target[TargetSize - 1] = '\0';
}

// Copies the public part of the chosen DEVMODE, never past the end of its block.
bool ReadDevMode(HGLOBAL DevModeHandle)
{
    const unsigned char* Block = static_cast<const unsigned char*>(GlobalLock(DevModeHandle));
    if (!Block)
        return false;
    CopyPublicDevMode(Block, GlobalSize(DevModeHandle), PrintJob.SavedDevMode);
    GlobalUnlock(DevModeHandle);
    return true;
}

bool ReadDevNames(HGLOBAL DevNamesHandle, std::string& DriverName, std::string& DeviceName)
{
    const unsigned char* Block = static_cast<const unsigned char*>(GlobalLock(DevNamesHandle));
    if (!Block)
        return false;
    DevNamesText Names;
    ParseDevNames(Block, GlobalSize(DevNamesHandle), Names);
    GlobalUnlock(DevNamesHandle);
    std::memcpy(&PrintJob.DevNamesHeader, Names.Header, sizeof(PrintJob.DevNamesHeader));
    DriverName = Names.DriverName;
    DeviceName = Names.DeviceName;
    return true;
}

// The DC's initialisation data, or none when the driver named no device-mode size. The
// driver reads dmSize + dmDriverExtra bytes, which the dialogs' values may put past the end
// of the buffer: those are given as zeros.
const DEVMODEA* InitialisationData(std::vector<unsigned char>& Padded)
{
    if (PrintJob.DevModeOut.empty())
        return nullptr;
    Padded = PrintJob.DevModeOut;
    size_t Claimed = DevModeClaimedSize(PrintJob.SavedDevMode);
    if (Padded.size() < Claimed)
        Padded.resize(Claimed, 0);
    return reinterpret_cast<const DEVMODEA*>(Padded.data());
}

void EndDocument(bool DocumentStarted, bool PageDrawn)
{
    if (!DocumentStarted)
        return;
    if (PrintJob.UserAbort || !PageDrawn)
    {
        AbortDoc(PrintJob.PrinterDC);
        return;
    }
    PrintJob.JobStatus = EndPage(PrintJob.PrinterDC);
    if (PrintJob.JobStatus > 0)
        EndDoc(PrintJob.PrinterDC);
    else
        AbortDoc(PrintJob.PrinterDC);
}

}  // namespace

void PrintTestPage(PAGESETUPDLGA& PageSetup, int& PrintMode, std::string& ModeCaption)
{
    PrintJob.MainWindow = PageSetup.hwndOwner;
    PrintJob.JobStatus = 0;
    CopyCaption(PrintJob.DialogCaption, sizeof(PrintJob.DialogCaption), ModeCaption);

    std::string DriverName;
    std::string DeviceName;
    if (!ReadDevMode(PageSetup.hDevMode) || !ReadDevNames(PageSetup.hDevNames, DriverName, DeviceName))
    {
        ShowJobMessage("Unable to write to selected printer!");
        return;
    }

    if (DeviceName.size() > LongestUncutName && !FindFullPrinterName(DeviceName))
    {
        ShowJobMessage("Could not find Printer Name");
        return;
    }

    PrintJob.PrinterHandle = nullptr;
    if (!OpenPrinterA(&DeviceName[0], &PrintJob.PrinterHandle, nullptr))
    {
        ShowJobMessage("Unable to write to selected printer!");
        return;
    }

    PrepareDevMode(PrintJob.MainWindow, PrintJob.PrinterHandle, PrintJob.SavedDevMode,
                   PrintJob.DevModeOut, PrintJob.DevModeIn);

    std::vector<unsigned char> InitData;
    PrintJob.PrinterDC = CreateDCA(DriverName.c_str(), DeviceName.c_str(), nullptr,
                                   InitialisationData(InitData));
    if (!PrintJob.PrinterDC)
    {
        ShowJobMessage("Unable to create printer DC!");
        ClosePrinter(PrintJob.PrinterHandle);
        return;
    }

    EnableWindow(PrintJob.MainWindow, FALSE);
    PrintJob.UserAbort = 0;
    HINSTANCE Instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(PrintJob.MainWindow, GWLP_HINSTANCE));
    PrintJob.CancelDialog = CreateDialogParamA(Instance, CancelDialogTemplate, PrintJob.MainWindow,
                                               CancelDlgProc, 0);
    SetAbortProc(PrintJob.PrinterDC, PrintAbortProc);

    CopyCaption(PrintJob.DocName, sizeof(PrintJob.DocName), ModeCaption);
    PrintJob.DocInfo.cbSize = sizeof(DOCINFOA);
    PrintJob.DocInfo.lpszDocName = PrintJob.DocName;
    PrintJob.DocInfo.lpszOutput = nullptr;

    PrintJob.JobStatus = StartDocA(PrintJob.PrinterDC, &PrintJob.DocInfo);
    bool DocumentStarted = PrintJob.JobStatus > 0;
    bool PageStarted = false;
    if (DocumentStarted && !PrintJob.UserAbort)
    {
        PrintJob.JobStatus = StartPage(PrintJob.PrinterDC);
        PageStarted = PrintJob.JobStatus > 0;
    }
    bool PageDrawn = false;
    if (PageStarted)
    {
        DEVMODEA* Out = PrintJob.DevModeOut.empty() ? nullptr : reinterpret_cast<DEVMODEA*>(PrintJob.DevModeOut.data());
        DEVMODEA* In = PrintJob.DevModeIn.empty() ? nullptr : reinterpret_cast<DEVMODEA*>(PrintJob.DevModeIn.data());
        DocumentPropertiesA(PrintJob.MainWindow, PrintJob.PrinterHandle, &DeviceName[0], Out, In, DM_IN_BUFFER);
        PageDrawn = OutputPrintedPage(PrintJob.PrinterDC, PrintMode, ModeCaption, PageSetup) == PAGE_OUTPUT_DRAWN;
    }
    // A page that could not be made is not ended: a blank sheet would pass for the test page.
    EndDocument(DocumentStarted, PageDrawn);

    EnableWindow(PrintJob.MainWindow, TRUE);
    if (PrintJob.CancelDialog)
    {
        DestroyWindow(PrintJob.CancelDialog);
        PrintJob.CancelDialog = nullptr;
    }
    ClosePrinter(PrintJob.PrinterHandle);
    DeleteDC(PrintJob.PrinterDC);
    // Told only now, with the job gone and the main window usable again.
    if (PageStarted && !PageDrawn)
        ShowJobMessage("Unable to create page bitmap!");
}
