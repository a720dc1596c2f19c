// The module trust check against the platform's signature check alone: IsFileTrusted on a signed
// file (no validation service, the test's built-in signer list, no list file) and a bare
// WinVerifyTrust on the same file, in alternating rounds so that a slower or faster phase of the
// machine favours neither. Prints both rates and the ratio of their times (goal: at most 1.3).
//
// Needs the build's test Wine prefix (test root and policy set up there); scripts/bench runs it
// with WINEPREFIX set to it:  OrdwellTrustBench.exe [checks]

#include "access/ModuleTrust.h"
#include "access/tests/TrustTestSupport.h"
#include "core/base/StringFormat.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// What a caller without the trust layer would do: verify, then release the state.
LONG BareWinVerifyTrust(const wchar_t* path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    (void)::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const unsigned long checks = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 400;
    const std::wstring file = TrustTesting::SignedFile(L"good.dll");

    wchar_t temp[MAX_PATH] = {};
    (void)::GetTempPathW(MAX_PATH, temp);
    wchar_t atom[64];
    (void)Fundor::FormatW(atom, std::size(atom), L"OrdwellTrustBench_%lu", ::GetCurrentProcessId());
    // No list file at this path: the built-in list decides, as on a machine without one.
    TrustedPublisherList listFile(std::wstring(temp) + atom + L"\\trusted.js", TrustTesting::ListSignerPin(), atom, 7,
                                  300);
    const TrustedSignerList builtIn = TrustTesting::TestBuiltInList();

    const DWORD trusted = IsFileTrusted(nullptr, file.c_str(), builtIn, listFile);
    const LONG verified = BareWinVerifyTrust(file.c_str());
    if (trusted != 0 || verified != 0) {
        std::fprintf(stderr, "the signed test file is not trusted here (IsFileTrusted %lu, WinVerifyTrust 0x%08lX): "
                             "run inside the build's test prefix\n",
                     trusted, static_cast<unsigned long>(verified));
        return 1;
    }

    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    constexpr unsigned long kRounds = 10;
    unsigned long failures = 0;
    double trustSeconds = 0;
    double bareSeconds = 0;
    for (unsigned long round = 0; round < kRounds; ++round) {
        const unsigned long count = checks * (round + 1) / kRounds - checks * round / kRounds;
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        ::QueryPerformanceCounter(&start);
        for (unsigned long i = 0; i < count; ++i) {
            if (IsFileTrusted(nullptr, file.c_str(), builtIn, listFile) != 0) ++failures;
        }
        ::QueryPerformanceCounter(&end);
        trustSeconds += Seconds(start, end, frequency);

        ::QueryPerformanceCounter(&start);
        for (unsigned long i = 0; i < count; ++i) {
            if (BareWinVerifyTrust(file.c_str()) != 0) ++failures;
        }
        ::QueryPerformanceCounter(&end);
        bareSeconds += Seconds(start, end, frequency);
    }

    std::printf("checks             %lu of each on %ls\n", checks, file.c_str());
    std::printf("IsFileTrusted      %.1f checks/s (%.2f s)\n", checks / trustSeconds, trustSeconds);
    std::printf("WinVerifyTrust     %.1f checks/s (%.2f s)\n", checks / bareSeconds, bareSeconds);
    std::printf("ratio              %.2f (time of IsFileTrusted / time of WinVerifyTrust; goal at most 1.30)\n",
                trustSeconds / bareSeconds);
    std::printf("failures           %lu\n", failures);
    return failures == 0 ? 0 : 2;
}
