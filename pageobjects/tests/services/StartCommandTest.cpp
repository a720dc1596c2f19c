// The program a page's command starts: which file the resolution settles on, and the commands
// refused before anything starts.

#include "access/tests/LaunchTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/services/KvStartCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fundor::testing::ScratchFolder;

std::wstring SystemCommandProcessor()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\cmd.exe";
}

// The real registry, which the shell reads to start a program: App Paths entries of a name of
// this test's own under the user's and the machine's key, removed after. Two copies of the
// command processor tell apart which entry was taken.
class StartCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_name = Fundor::testing::UniqueName(L"kvsc");
        m_key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + m_name + L".exe";
        for (const wchar_t* folder : {L"user", L"machine"}) {
            ASSERT_TRUE(CreateDirectoryW(scratch.File(folder).c_str(), nullptr));
            ASSERT_TRUE(CopyFileW(SystemCommandProcessor().c_str(), Copy(folder).c_str(), TRUE));
        }
    }
    void TearDown() override { RemoveEntries(); }

    std::wstring Copy(const wchar_t* folder) const { return scratch.File(folder) + L"\\cmd.exe"; }
    void RemoveEntries()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_key.c_str());
    }
    void Register(HKEY root, const std::wstring& path)
    {
        if (path.empty()) return;
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root, m_key.c_str(), nullptr, REG_SZ, path.c_str(),
                                                 static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
    }
    // The start's code; *started: the files the shell was asked to start.
    DWORD Start(const std::wstring& command, std::vector<std::wstring>* started)
    {
        LaunchTesting::ShellStartSpy spy(nullptr);
        const DWORD code = KvStartCommand(command.c_str(), true);
        *started = spy.files();
        return code;
    }

    ScratchFolder scratch;
    std::wstring m_name;
    std::wstring m_key;
};

TEST_F(StartCommand, TheUsersAppPathsComeFirstAndEachEntryIsReadAsTheFileItNames)
{
    const std::wstring user = Copy(L"user");
    const std::wstring machine = Copy(L"machine");
    struct Case {
        const wchar_t* what;
        std::wstring userEntry;
        std::wstring machineEntry;
        std::wstring command;
        std::wstring started;
    };
    const Case cases[] = {
        {L"both entries, no extension given", user, machine, m_name + L" /c exit", user},
        {L"the user's entry names no file", scratch.File(L"gone.exe"), machine, m_name + L".exe /c exit", machine},
        {L"a quoted entry", L"", L"\"" + machine + L"\"", m_name + L" /c exit", machine},
        {L"a quoted path, a tab before the parameters", user, machine, L"\"" + machine + L"\"\t/c exit", machine},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveEntries();
        Register(HKEY_CURRENT_USER, c.userEntry);
        Register(HKEY_LOCAL_MACHINE, c.machineEntry);
        std::vector<std::wstring> started;
        EXPECT_EQ(0u, Start(c.command, &started));
        ASSERT_EQ(1u, started.size());
        EXPECT_EQ(0, _wcsicmp(c.started.c_str(), started[0].c_str())) << started[0];
    }
}

TEST_F(StartCommand, CommandsWithoutAProgramOrAFileStartNothing)
{
    Register(HKEY_LOCAL_MACHINE, scratch.File(L"gone.exe"));
    struct Case {
        const wchar_t* what;
        std::wstring command;
        DWORD code;
    };
    const Case cases[] = {
        {L"empty", L"", 87},
        {L"blanks only", L"   ", 87},
        {L"an empty quoted name", L"\"\" /c exit", 87},
        {L"a path to no file", scratch.File(L"none") + L"\\cmd.exe /c exit", 2},
        {L"an entry naming no file", m_name + L" /c exit", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> started;
        EXPECT_EQ(c.code, Start(c.command, &started));
        EXPECT_TRUE(started.empty());
    }
    EXPECT_EQ(87u, KvStartCommand(nullptr, true));
}

}  // namespace
