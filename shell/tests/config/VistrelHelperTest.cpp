#include "core/base/ScopedResource.h"
#include "core/testsupport/RegistryIsolation.h"
#include "shell/config/VistrelHelper.h"
#include "shell/tests/config/ShellConfigTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using shelltest::SetRegistryDword;
using shelltest::SetRegistryString;

class VistrelHelperTest : public RegistryIsolatedTest {};

TEST_F(VistrelHelperTest, InstalledAndEnabledFollowTheRegistry)
{
    EXPECT_EQ(0, VistrelHelper::IsInstalled());
    EXPECT_EQ(0, VistrelHelper::IsEnabled());

    SetRegistryDword(HKEY_LOCAL_MACHINE, kVistrelKey, L"Install Dir", 1);
    EXPECT_EQ(0, VistrelHelper::IsInstalled());

    SetRegistryString(HKEY_LOCAL_MACHINE, kVistrelKey, L"Install Dir", L"C:\\Program Files\\Vistrel\\");
    EXPECT_EQ(1, VistrelHelper::IsInstalled());
    EXPECT_EQ(1, VistrelHelper::IsEnabled());  // no "Enabled" values at all
    std::wstring folder;
    EXPECT_TRUE(VistrelHelper::ReadInstallDir(folder));
    EXPECT_EQ(L"C:\\Program Files\\Vistrel", folder);

    SetRegistryDword(HKEY_LOCAL_MACHINE, kVistrelKey, L"Enabled", 0);
    EXPECT_EQ(0, VistrelHelper::IsEnabled());
    SetRegistryDword(HKEY_LOCAL_MACHINE, kVistrelKey, L"Enabled_Override", 7);
    EXPECT_EQ(1, VistrelHelper::IsEnabled());
    SetRegistryDword(HKEY_LOCAL_MACHINE, kVistrelKey, L"Enabled", 1);
    SetRegistryDword(HKEY_LOCAL_MACHINE, kVistrelKey, L"Enabled_Override", 0);
    EXPECT_EQ(0, VistrelHelper::IsEnabled());
    // An override of another type does not count: "Enabled" decides.
    SetRegistryString(HKEY_LOCAL_MACHINE, kVistrelKey, L"Enabled_Override", L"0");
    EXPECT_EQ(1, VistrelHelper::IsEnabled());
}

TEST_F(VistrelHelperTest, RunningEventAndSessionWindowId)
{
    EXPECT_EQ(0, VistrelHelper::IsVistrelRunning());
    {
        const Fundor::ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, kVistrelRunningEvent));
        ASSERT_TRUE(event);
        EXPECT_EQ(1, VistrelHelper::IsVistrelRunning());
    }
    EXPECT_EQ(0, VistrelHelper::IsVistrelRunning());
    // Wine runs the process in session 1.
    EXPECT_EQ(L"Vistrel.Window.for.Session.1", VistrelHelper::CurrentSessionWindowId());
}

}  // namespace
