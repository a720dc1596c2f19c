#include "core/registry/CRegKey.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "core/registry/SecurityFunctionTable.h"
#include "core/tests/registry/RegistryTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <string>

namespace Fundor {
namespace {

using testing::FindEveryoneEntry;

constexpr BYTE kInheritedBySubKeysAndValues = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// Builds  Parent\a_blocked (nobody may open it), Parent\b\c  and removes the block afterwards.
class EveryoneAccessTest : public testing::RegistryIsolatedTest {
protected:
    void SetUp() override
    {
        m_parent = testing::CreateKey(HKEY_CURRENT_USER, kParent);
        ASSERT_TRUE(m_parent);
        ScopedRegKey blocked = testing::CreateKey(m_parent.get(), L"a_blocked");
        ASSERT_EQ(0, testing::BlockKey(blocked.get()));
        ScopedRegKey probe;
        ASSERT_EQ(ERROR_ACCESS_DENIED, ::RegOpenKeyExW(m_parent.get(), L"a_blocked", 0, KEY_ALL_ACCESS, probe.put()))
            << "the platform lets a key with an empty access list be opened";
        ASSERT_TRUE(testing::CreateKey(m_parent.get(), L"b\\c"));
    }

    void TearDown() override { EXPECT_EQ(0, testing::UnblockKey(m_parent.get(), L"a_blocked")); }

    void ExpectOpenToEveryone(const wchar_t* path, bool open)
    {
        const auto entry = FindEveryoneEntry(HKEY_CURRENT_USER, path);
        EXPECT_EQ(open, entry.found) << path;
        if (open && entry.found) {
            EXPECT_EQ(static_cast<ACCESS_MASK>(GENERIC_ALL), entry.mask) << path;
            EXPECT_EQ(kInheritedBySubKeysAndValues, entry.flags & kInheritedBySubKeysAndValues) << path;
        }
    }

    static constexpr const wchar_t* kParent = L"Software\\Tervane\\Shared";
    ScopedRegKey m_parent;
};

TEST(SecurityFunctionTable, BindsAllFunctionsFromTheSystemAdvapi)
{
    SecurityFunctionTable functions;
    EXPECT_TRUE(functions.IsWindowsNt());
    EXPECT_FALSE(functions.IsBound());
    ASSERT_TRUE(functions.Bind());
    EXPECT_TRUE(functions.IsBound());
#define ORDWELL_EXPECT_BOUND(name) EXPECT_NE(nullptr, reinterpret_cast<void*>(functions.name)) << #name;
    ORDWELL_SECURITY_FUNCTIONS(ORDWELL_EXPECT_BOUND)
#undef ORDWELL_EXPECT_BOUND
    EXPECT_TRUE(functions.Bind());  // binding again replaces the first load
}

TEST_F(EveryoneAccessTest, FlagTwoOpensOnlyNewKeysAndFlagFourAlsoExistingOnesWithTheirSubKeys)
{
    const DWORD one = 1;
    // Flag 2 on an existing key changes nothing; on a new key it opens just that key.
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, kParent, L"V", REG_DWORD, &one, 4, 2));
    ExpectOpenToEveryone(kParent, false);
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, L"Software\\Tervane\\Fresh", L"V", REG_DWORD, &one, 4, 2 | 1));
    ExpectOpenToEveryone(L"Software\\Tervane\\Fresh", true);
    ExpectOpenToEveryone(L"Software\\Tervane", false);

    // Flag 4 on the existing key: the key and every sub-key that opens, past the one that does not.
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, kParent, L"V", REG_DWORD, &one, 4, 4));
    ExpectOpenToEveryone(kParent, true);
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\b", true);
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\b\\c", true);
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\a_blocked", false);

    // The entry is merged into the existing list: the built-in entries stay.
    ScopedRegKey parent;
    ASSERT_EQ(0, ::RegOpenKeyExW(HKEY_CURRENT_USER, kParent, 0, READ_CONTROL, parent.put()));
    DWORD size = 0;
    ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, ::RegGetKeySecurity(parent.get(), DACL_SECURITY_INFORMATION, nullptr, &size));
    std::vector<std::uint8_t> descriptor(size);
    ASSERT_EQ(0, ::RegGetKeySecurity(parent.get(), DACL_SECURITY_INFORMATION, descriptor.data(), &size));
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.data(), &present, &list, &defaulted));
    ASSERT_TRUE(present && list != nullptr);
    EXPECT_GT(list->AceCount, 1u);
}

TEST_F(EveryoneAccessTest, SetKeyPermissionsReachesSubKeysOnlyWhenAskedAndSkipsBlockedOnes)
{
    CRegKey key;
    ASSERT_EQ(0, key.Open(HKEY_CURRENT_USER, kParent, KEY_ALL_ACCESS));
    ASSERT_EQ(0, key.SetKeyPermissions(false));
    ExpectOpenToEveryone(kParent, true);
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\b", false);

    ASSERT_EQ(0, key.SetKeyPermissions(true));
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\b", true);
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\b\\c", true);
    ExpectOpenToEveryone(L"Software\\Tervane\\Shared\\a_blocked", false);

    CRegKey closed;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.SetKeyPermissions(true));
}

}  // namespace
}  // namespace Fundor
