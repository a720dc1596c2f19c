#include "shell/host/DelayLoadFallbacks.h"

#include "core/Logging/Logging.h"

#include <bcrypt.h>
#include <oleauto.h>
#include <wininet.h>
#include <winver.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <type_traits>

namespace DelayLoad {
namespace {

constexpr wchar_t kSource[] = L"DelayLoadFallbacks.cpp";

enum Dll { kBcrypt, kOleAut32, kVersion, kWinInet, kDllCount };
constexpr const char* kDllNames[kDllCount] = {"bcrypt.dll", "OLEAUT32.dll", "VERSION.dll", "WININET.dll"};

// The loader's error for each DLL, as the hook last saw it; what its stand-ins report.
std::atomic<DWORD> g_loaderErrors[kDllCount] = {ERROR_MOD_NOT_FOUND, ERROR_MOD_NOT_FOUND, ERROR_MOD_NOT_FOUND,
                                                ERROR_MOD_NOT_FOUND};

// How a function reports failure.
enum class Failure {
    Zero,      // FALSE, 0 or a null pointer
    Hresult,   // the loader's error as an HRESULT
    NtStatus,  // the loader's error as an NTSTATUS
    Nothing,   // returns nothing
};

template <Dll dll, Failure failure, typename Signature>
struct StandIn;

template <Dll dll, Failure failure, typename Result, typename... Arguments>
struct StandIn<dll, failure, Result (*)(Arguments...)> {
    static Result WINAPI Call(Arguments...) noexcept
    {
        const DWORD error = g_loaderErrors[dll].load();
        ::SetLastError(error);
        if constexpr (failure == Failure::Hresult) {
            return HRESULT_FROM_WIN32(error);
        } else if constexpr (failure == Failure::NtStatus) {
            return static_cast<NTSTATUS>(0xC0070000u | (error & 0xFFFFu));
        } else if constexpr (failure == Failure::Nothing) {
            static_assert(std::is_void_v<Result>);
        } else {
            return Result{};
        }
    }
};

// VariantInit cannot fail; its callers go on to use the variant.
void WINAPI VariantInitStandIn(VARIANTARG* variant) noexcept
{
    ::SetLastError(g_loaderErrors[kOleAut32].load());
    if (variant != nullptr) {
        V_VT(variant) = VT_EMPTY;
    }
}

// The helper hands out any function as FARPROC; the caller calls it with its own signature.
template <typename Function>
FARPROC AsFarProc(Function* function) noexcept
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

#define ORDWELL_STAND_IN(dll, failure, function)                                                              \
    Fallback                                                                                                 \
    {                                                                                                        \
        kDllNames[dll], #function, AsFarProc(&StandIn<dll, Failure::failure, decltype(&::function)>::Call)  \
    }

const Fallback kFallbacks[] = {
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptCloseAlgorithmProvider),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptCreateHash),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptDestroyHash),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptDestroyKey),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptFinishHash),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptGetProperty),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptHash),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptHashData),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptOpenAlgorithmProvider),
    ORDWELL_STAND_IN(kBcrypt, NtStatus, BCryptVerifySignature),
    ORDWELL_STAND_IN(kOleAut32, Hresult, DispGetIDsOfNames),
    ORDWELL_STAND_IN(kOleAut32, Hresult, LoadTypeLibEx),
    ORDWELL_STAND_IN(kOleAut32, Zero, SafeArrayCreateVector),
    ORDWELL_STAND_IN(kOleAut32, Hresult, SafeArrayDestroy),
    ORDWELL_STAND_IN(kOleAut32, Zero, SafeArrayGetDim),
    ORDWELL_STAND_IN(kOleAut32, Hresult, SafeArrayGetElement),
    ORDWELL_STAND_IN(kOleAut32, Hresult, SafeArrayGetLBound),
    ORDWELL_STAND_IN(kOleAut32, Hresult, SafeArrayGetUBound),
    ORDWELL_STAND_IN(kOleAut32, Hresult, SafeArrayPutElement),
    ORDWELL_STAND_IN(kOleAut32, Zero, SysAllocString),
    ORDWELL_STAND_IN(kOleAut32, Zero, SysAllocStringLen),
    ORDWELL_STAND_IN(kOleAut32, Nothing, SysFreeString),
    ORDWELL_STAND_IN(kOleAut32, Zero, SysStringLen),
    ORDWELL_STAND_IN(kOleAut32, Hresult, VarBstrCmp),
    ORDWELL_STAND_IN(kOleAut32, Hresult, VariantChangeType),
    ORDWELL_STAND_IN(kOleAut32, Hresult, VariantClear),
    ORDWELL_STAND_IN(kOleAut32, Hresult, VariantCopy),
    ORDWELL_STAND_IN(kOleAut32, Hresult, VariantCopyInd),
    Fallback{kDllNames[kOleAut32], "VariantInit", AsFarProc(&VariantInitStandIn)},
    ORDWELL_STAND_IN(kVersion, Zero, GetFileVersionInfoSizeW),
    ORDWELL_STAND_IN(kVersion, Zero, GetFileVersionInfoW),
    ORDWELL_STAND_IN(kVersion, Zero, VerQueryValueW),
    ORDWELL_STAND_IN(kWinInet, Zero, InternetCrackUrlW),
};

#undef ORDWELL_STAND_IN

int DllIndex(const char* dll) noexcept
{
    for (int index = 0; index < kDllCount; ++index) {
        if (dll != nullptr && _stricmp(dll, kDllNames[index]) == 0) {
            return index;
        }
    }
    return -1;
}

}  // namespace

const Fallback* Fallbacks(std::size_t* count) noexcept
{
    if (count != nullptr) {
        *count = std::size(kFallbacks);
    }
    return kFallbacks;
}

FARPROC FallbackFor(const char* dll, const char* function) noexcept
{
    if (dll == nullptr || function == nullptr) {
        return nullptr;
    }
    for (const Fallback& fallback : kFallbacks) {
        if (_stricmp(dll, fallback.dll) == 0 && std::strcmp(function, fallback.function) == 0) {
            return fallback.standIn;
        }
    }
    return nullptr;
}

FARPROC WINAPI OnDelayLoadFailure(unsigned notification, PDelayLoadInfo info) noexcept
{
    if (info == nullptr) {
        return nullptr;
    }
    const char* const dll = info->szDll != nullptr ? info->szDll : "?";
    const HMODULE program = ::GetModuleHandleW(nullptr);
    if (notification == dliFailLoadLib) {
        if (const int index = DllIndex(dll); index >= 0) {
            g_loaderErrors[index] = info->dwLastError != 0 ? info->dwLastError : ERROR_MOD_NOT_FOUND;
        }
        ETWLOG(ETWLogging::kLevelError, kSource, L"DelayLoad::OnDelayLoadFailure",
               L"System DLL %hs could not be loaded (error %lu): its functions fail from now on", dll,
               info->dwLastError);
        // No function is found in the program's own module: each call comes back for its stand-in.
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(program));
    }
    if (notification != dliFailGetProc) {
        return nullptr;
    }
    const char* const function = info->dlp.fImportByName ? info->dlp.szProcName : nullptr;
    const FARPROC standIn = FallbackFor(dll, function);
    if (info->hmodCur == program) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"DelayLoad::OnDelayLoadFailure",
               L"%hs!%hs fails: the DLL could not be loaded", dll, function != nullptr ? function : "?");
    } else {
        if (const int index = DllIndex(dll); index >= 0) {
            g_loaderErrors[index] = info->dwLastError != 0 ? info->dwLastError : ERROR_PROC_NOT_FOUND;
        }
        ETWLOG(ETWLogging::kLevelError, kSource, L"DelayLoad::OnDelayLoadFailure",
               L"%hs has no function %hs (error %lu): it fails from now on", dll, function != nullptr ? function : "?",
               info->dwLastError);
    }
    return standIn;
}

}  // namespace DelayLoad

// The helper's hook, defined here so that the runtime's empty default is not linked.
extern "C" {
PfnDliHook __pfnDliFailureHook2 = DelayLoad::OnDelayLoadFailure;
}
