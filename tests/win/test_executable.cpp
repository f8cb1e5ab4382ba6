// What printtest.exe promises as a file, read back from the built executable: its manifest, its
// version information, its export and its imports.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace
{

std::string ProgramPath() { return FixturePath("PRINTTEST_EXE"); }

std::string Lower(std::string Text)
{
    std::transform(Text.begin(), Text.end(), Text.begin(), [](unsigned char C) { return std::tolower(C); });
    return Text;
}

// The executable mapped as an image, its imports unresolved and its code never run.
struct MappedProgram
{
    MappedProgram() : Module(LoadLibraryExA(ProgramPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES)) {}
    ~MappedProgram()
    {
        if (Module)
            FreeLibrary(Module);
    }
    const BYTE* Base() const { return reinterpret_cast<const BYTE*>(Module); }
    const IMAGE_NT_HEADERS32* Headers() const
    {
        return reinterpret_cast<const IMAGE_NT_HEADERS32*>(
            Base() + reinterpret_cast<const IMAGE_DOS_HEADER*>(Base())->e_lfanew);
    }
    HMODULE Module;
};

TEST(Executable, ItsManifestMakesItSystemDpiAwareWithCommonControls6)
{
    MappedProgram Program;
    ASSERT_NE(Program.Module, nullptr);
    HRSRC Found = FindResourceA(Program.Module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(Found, nullptr) << "no manifest with id 1";
    const char* Text = static_cast<const char*>(LockResource(LoadResource(Program.Module, Found)));
    std::string Manifest(Text, SizeofResource(Program.Module, Found));

    EXPECT_NE(Manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">"
                            "true</dpiAware>"),
              std::string::npos);
    // The program does not follow DPI changes, so it claims no per-monitor awareness.
    EXPECT_EQ(Lower(Manifest).find("permonitor"), std::string::npos);
    EXPECT_EQ(Manifest.find("dpiAwareness"), std::string::npos);

    for (const char* Attribute : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                                  "processorArchitecture=\"x86\"", "publicKeyToken=\"6595b64144ccf1df\"",
                                  "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"})
        EXPECT_NE(Manifest.find(Attribute), std::string::npos) << Attribute;
    // Windows Vista, 7, 8, 8.1, and 10 and 11.
    for (const char* System : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                               "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                               "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(Manifest.find(std::string("<supportedOS Id=\"{") + System + "}\"/>"), std::string::npos)
            << System;
}

TEST(Executable, ItsVersionInformationNamesTheProgramAndNoMaker)
{
    std::string Path = ProgramPath();
    DWORD Size = GetFileVersionInfoSizeA(Path.c_str(), nullptr);
    ASSERT_GT(Size, 0u);
    std::vector<char> Info(Size);
    ASSERT_TRUE(GetFileVersionInfoA(Path.c_str(), 0, Size, Info.data()));

    VS_FIXEDFILEINFO* Fixed = nullptr;
    UINT Length = 0;
    ASSERT_TRUE(VerQueryValueA(Info.data(), "\\", reinterpret_cast<void**>(&Fixed), &Length));
    unsigned Major = 0, Minor = 0, Patch = 0;
    ASSERT_EQ(std::sscanf(PROGRAM_VERSION, "%u.%u.%u", &Major, &Minor, &Patch), 3);
    EXPECT_EQ(Fixed->dwFileVersionMS, Major << 16 | Minor);
    EXPECT_EQ(Fixed->dwFileVersionLS, Patch << 16);
    EXPECT_EQ(Fixed->dwProductVersionMS, Fixed->dwFileVersionMS);
    EXPECT_EQ(Fixed->dwProductVersionLS, Fixed->dwFileVersionLS);
    EXPECT_EQ(Fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* Translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(Info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&Translation),
                               &Length));
    char Block[64];
    std::snprintf(Block, sizeof(Block), "\\StringFileInfo\\%04x%04x\\", Translation[0], Translation[1]);
    auto Value = [&](const char* Name) -> std::string {
        char* Text = nullptr;
        UINT Chars = 0;
        if (!VerQueryValueA(Info.data(), (Block + std::string(Name)).c_str(), reinterpret_cast<void**>(&Text),
                            &Chars))
            return "(none)";
        return Text;
    };
    EXPECT_EQ(Value("FileDescription"), "Print Test Program");
    EXPECT_EQ(Value("ProductName"), "Print Test");
    EXPECT_EQ(Value("OriginalFilename"), "printtest.exe");
    EXPECT_EQ(Value("FileVersion"), PROGRAM_VERSION);
    EXPECT_EQ(Value("ProductVersion"), PROGRAM_VERSION);
    EXPECT_EQ(Value("CompanyName"), "(none)");
    EXPECT_EQ(Value("LegalCopyright"), "(none)");
}

TEST(Executable, ItExportsItsWindowProcedureIsLargeAddressAwareAndNeedsOnlySystemDlls)
{
    MappedProgram Program;
    ASSERT_NE(Program.Module, nullptr);
    EXPECT_NE(GetProcAddress(Program.Module, "MAINWNDPROC"), nullptr);
    EXPECT_EQ(GetProcAddress(Program.Module, "MAINWNDPROC@16"), nullptr);
    EXPECT_EQ(GetProcAddress(Program.Module, "_MAINWNDPROC@16"), nullptr);

    const IMAGE_NT_HEADERS32* Headers = Program.Headers();
    EXPECT_TRUE(Headers->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);

    // What every Windows has: no compiler runtime, no C++ library, no thread library.
    const std::set<std::string> System = {"kernel32.dll", "user32.dll",   "gdi32.dll",    "comdlg32.dll",
                                          "winspool.drv", "advapi32.dll", "shell32.dll", "comctl32.dll",
                                          "msvcrt.dll"};
    const IMAGE_DATA_DIRECTORY& Imports = Headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(Imports.VirtualAddress, 0u);
    std::vector<std::string> Names;
    for (auto* Entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(Program.Base() + Imports.VirtualAddress);
         Entry->Name; ++Entry)
        Names.push_back(Lower(reinterpret_cast<const char*>(Program.Base() + Entry->Name)));
    EXPECT_FALSE(Names.empty());
    for (const std::string& Name : Names)
        EXPECT_TRUE(System.count(Name)) << Name << " is not a system DLL";
}

}  // namespace
