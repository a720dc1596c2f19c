#include "access/WinTrustFileCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the check handed the platform, call by call.
struct RecordedCall {
    DWORD stateAction;
    const void* data;
    HANDLE state;
    std::wstring path;
    DWORD providerFlags;
    bool genericVerify;
};
std::vector<RecordedCall> g_calls;

LONG WINAPI RecordingVerify(HWND, GUID* action, LPVOID raw)
{
    auto* data = static_cast<WINTRUST_DATA*>(raw);
    const GUID generic = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const bool valid = data->cbStruct == sizeof(WINTRUST_DATA) && data->dwUnionChoice == WTD_CHOICE_FILE &&
                       data->pFile != nullptr && data->pFile->cbStruct == sizeof(WINTRUST_FILE_INFO) &&
                       data->dwUIChoice == WTD_UI_NONE;
    g_calls.push_back({data->dwStateAction, data, data->hWVTStateData,
                       valid ? data->pFile->pcwszFilePath : L"<malformed>", data->dwProvFlags,
                       IsEqualGUID(*action, generic) != FALSE});
    if (data->dwStateAction == WTD_STATEACTION_VERIFY) {
        data->hWVTStateData = reinterpret_cast<HANDLE>(0x1234);
        ::SetLastError(ERROR_INVALID_DATA);
        return TRUST_E_NOSIGNATURE;
    }
    ::SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

// Every verify is closed exactly once, with the state the verify left, on every way out of
// the object's life; an object that never verified makes no call.
TEST(WinTrustFileCheck, ClosesTheStateOfEveryVerifyOnce)
{
    const DWORD flags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    struct Case {
        const char* name;
        int verifies;
    };
    for (const Case c : {Case{"never verified", 0}, Case{"verified once", 1}, Case{"verified twice", 2}}) {
        g_calls.clear();
        const void* data = nullptr;
        {
            WinTrustFileCheck check(L"C:\\x\\file.dll", flags, RecordingVerify);
            for (int i = 0; i < c.verifies; ++i) {
                EXPECT_EQ(TRUST_E_NOSIGNATURE, check.Verify()) << c.name;
                EXPECT_EQ(DWORD{ERROR_INVALID_DATA}, ::GetLastError()) << c.name << ": the verify's error is the caller's";
            }
            if (!g_calls.empty()) data = g_calls.front().data;
            ::SetLastError(ERROR_FILE_NOT_FOUND);
        }
        EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, ::GetLastError()) << c.name << ": closing keeps the last error";
        ASSERT_EQ(static_cast<std::size_t>(2 * c.verifies), g_calls.size()) << c.name;
        for (std::size_t i = 0; i < g_calls.size(); ++i) {
            const RecordedCall& call = g_calls[i];
            const bool isVerify = i % 2 == 0;
            EXPECT_EQ(isVerify ? DWORD{WTD_STATEACTION_VERIFY} : DWORD{WTD_STATEACTION_CLOSE}, call.stateAction)
                << c.name << " call " << i;
            EXPECT_EQ(isVerify ? nullptr : reinterpret_cast<HANDLE>(0x1234), call.state) << c.name << " call " << i;
            EXPECT_EQ(data, call.data) << c.name << " call " << i;
            EXPECT_EQ(L"C:\\x\\file.dll", call.path) << c.name << " call " << i;
            EXPECT_EQ(flags, call.providerFlags) << c.name << " call " << i;
            EXPECT_TRUE(call.genericVerify) << c.name << " call " << i;
        }
    }
}

}  // namespace
