// Started by the delay-load tests, linked like Ordwell.exe (the same delay-import libraries and
// failure hook): calls one function of each system DLL that the program binds at its first call
// and prints one line per call with what it answered and, after a failure, the thread's last
// error ("-" after a success, where the last error means nothing):
//   InternetCrackUrlW <BOOL> <error>
//   SysAllocString <set|null> <error>
//   VariantInit <vt>
//   LoadTypeLibEx <HRESULT>
//   GetFileVersionInfoSizeW <size> <error>
//   BCryptOpenAlgorithmProvider <NTSTATUS>
// Its log records go to the file logger of the group given as the one argument (host "probe").
// Exit code 0 when it ran to the end.

#include "core/Logging/Logging.h"

#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>
#include <wininet.h>
#include <winver.h>

#include <cstdio>
#include <string>

namespace {

std::string ErrorAfter(bool failed)
{
    return failed ? std::to_string(::GetLastError()) : std::string("-");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return 2;
    }
    ETWLogging::ModuleLoggingParameters parameters;
    parameters.group = argv[1];
    parameters.host = L"probe";
    parameters.loggerMode = 1;
    if (!ETWLogging::SetModuleLoggingParameters(parameters)) {
        return 3;
    }

    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;
    const BOOL cracked = ::InternetCrackUrlW(L"https://example.test/page", 0, 0, &parts);
    std::printf("InternetCrackUrlW %d %s\n", cracked, ErrorAfter(!cracked).c_str());

    BSTR text = ::SysAllocString(L"probe");
    std::printf("SysAllocString %s %s\n", text != nullptr ? "set" : "null", ErrorAfter(text == nullptr).c_str());
    ::SysFreeString(text);

    VARIANT variant;
    V_VT(&variant) = VT_BSTR;  // what the stack happened to hold
    ::VariantInit(&variant);
    std::printf("VariantInit %u\n", static_cast<unsigned>(V_VT(&variant)));

    ITypeLib* library = nullptr;
    const HRESULT loaded = ::LoadTypeLibEx(L"stdole2.tlb", REGKIND_NONE, &library);
    std::printf("LoadTypeLibEx 0x%08lX\n", static_cast<unsigned long>(loaded));
    if (library != nullptr) {
        library->Release();
    }

    wchar_t program[MAX_PATH] = {};
    (void)::GetModuleFileNameW(nullptr, program, MAX_PATH);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(program, &handle);
    std::printf("GetFileVersionInfoSizeW %lu %s\n", size, ErrorAfter(size == 0).c_str());

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    const NTSTATUS opened = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0);
    std::printf("BCryptOpenAlgorithmProvider 0x%08lX\n", static_cast<unsigned long>(opened));
    if (algorithm != nullptr) {
        (void)::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return 0;
}
