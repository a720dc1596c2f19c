#pragma once
// Installs the deliverables and the stand-ins the way a suite install lays them out, and writes
// the registry values the programs read: install folders, application information, packages,
// class registrations, the uninstaller's type library (its interfaces cross into the surrogate
// program), the validation service (Halvorn) with the files it vouches for, and the enciphered
// logger choice with a log.ini that lets every level through. Shared by the
// whole-program tests and the demo's helper program.

#include <windows.h>

#include <string>
#include <vector>

namespace SuiteInstall {

struct Layout {
    std::wstring buildBin;     // the build's bin folder, where the built files are taken from
    std::wstring productDir;   // Ordwell.exe, KvBrwsr2.dll, Tessil.dll, Corvane.dll, resource DLLs
    std::wstring commonDir;    // the suite's common-files folder: KvUtil.dll, KvUpdate.exe, KvUnInstShim.tlb
    std::wstring halvornDir;   // the validation service qdxnroa.dll
};

// "C:\Program Files\Tervane\QRN", "...\Common Files\Tervane\Platform", "...\Tervane\Halvorn".
[[nodiscard]] Layout DefaultLayout(const std::wstring& buildBin);

// Copies every file and writes every value. Empty on success, else what failed.
[[nodiscard]] std::wstring Install(const Layout& layout);

// Ends the hosts and the surrogate programs (COM starts them for the hosts' page objects and they
// stay until the session ends) still running in this prefix: they hold the installed files and the
// callers' output open.
void EndInstalledPrograms();

// The installed files the validation service vouches for (and the platform's proxy modules that
// checked creation of a local server meets).
[[nodiscard]] std::vector<std::wstring> TrustedFiles(const Layout& layout);
// Replaces the list of files the validation service vouches for.
[[nodiscard]] bool SetTrustedFiles(const std::vector<std::wstring>& paths);

[[nodiscard]] std::wstring ProgramPath(const Layout& layout);
[[nodiscard]] std::wstring KvUtilFolder(const Layout& layout);

// The file logger's folder for Ordwell.exe and the paths of its log files (oldest index first).
[[nodiscard]] std::wstring OrdwellLogFolder();
[[nodiscard]] std::vector<std::wstring> OrdwellLogFiles();
// Deletes the log files and the index in log.ini, keeping the settings.
void ClearOrdwellLogs();
// Every line of every log file, in file-index order.
[[nodiscard]] std::vector<std::wstring> ReadOrdwellLogLines();
// The log lines of one process that hold the text (every line of it for an empty text).
[[nodiscard]] std::vector<std::wstring> OrdwellLogLinesOf(DWORD pid, const wchar_t* text = L"");
// The browser stand-in's records (one line each, "pid=N ...") of one process that hold the text.
[[nodiscard]] std::vector<std::string> PageRecordLines(const std::wstring& path, DWORD pid, const std::string& text);

// The folder of this program.
[[nodiscard]] std::wstring ThisProgramFolder();
// The temporary folder of this Wine prefix (no trailing backslash), for records that the test and
// the programs it starts write. Not the build's bin folder: whole-program tests run side by side in
// prefixes of their own that all reach it, and process ids, which the tests' unique names carry,
// repeat from one prefix to the next.
[[nodiscard]] std::wstring PrefixTempFolder();

}  // namespace SuiteInstall
