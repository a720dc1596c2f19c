#include "core/base/LastError.h"
#include "core/base/ScopedResource.h"

#include <gtest/gtest.h>

namespace Fundor {
namespace {

// A real failing call under each helper: SetEvent on a null handle fails with
// ERROR_INVALID_HANDLE; "silent" fails with no last error at all.
DWORD SetEventStatus(HANDLE event, bool silent)
{
    RETURN_LAST_ERROR_IF(silent ? (::SetLastError(ERROR_SUCCESS), true) : !::SetEvent(event));
    return ERROR_SUCCESS;
}

HRESULT SetEventResult(HANDLE event, bool silent)
{
    RETURN_HR_LAST_ERROR_IF(silent ? (::SetLastError(ERROR_SUCCESS), true) : !::SetEvent(event));
    return S_OK;
}

TEST(LastErrorHelpers, StatusComesFromTheFailingCallAndAFailureNeverReadsAsSuccess)
{
    const ScopedHandle owner(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(owner.valid());
    const HANDLE event = owner.get();
    const struct {
        const char* name;
        HANDLE event;
        bool silent;
        DWORD status;
    } cases[] = {
        {"success over a stale error", event, false, ERROR_SUCCESS},
        {"failure", nullptr, false, ERROR_INVALID_HANDLE},
        {"failure leaving no error", nullptr, true, ERROR_GEN_FAILURE},
    };
    for (const auto& c : cases) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(c.status, SetEventStatus(c.event, c.silent)) << c.name;
        ::SetLastError(ERROR_ACCESS_DENIED);
        EXPECT_EQ(c.status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(c.status), SetEventResult(c.event, c.silent))
            << c.name;
        ::SetLastError(ERROR_ACCESS_DENIED);
        const DWORD direct = c.silent ? (::SetLastError(ERROR_SUCCESS), Win32Status(FALSE))
                                      : Win32Status(::SetEvent(c.event));
        EXPECT_EQ(c.status, direct) << c.name;
    }
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(DWORD{ERROR_NOT_FOUND}, Win32Status(FALSE, ERROR_NOT_FOUND));
}

}  // namespace
}  // namespace Fundor
