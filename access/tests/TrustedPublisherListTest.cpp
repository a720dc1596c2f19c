#include "access/ModuleTrust.h"
#include "access/TrustedPublisherList.h"
#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace TrustTesting;
using Fundor::testing::ScratchFolder;
using Fundor::testing::UniqueName;
using Map = TrustedPublisherList::SectionMap;

namespace {

Map Parse(const std::string& text, bool* valid = nullptr)
{
    Map sections;
    const bool ok = TrustedPublisherList::ParseListText(text.data(), text.size(), sections);
    if (valid != nullptr) *valid = ok;
    return sections;
}

std::wstring ListFile(const wchar_t* name) { return SignedFile((std::wstring(L"lists\\") + name).c_str()); }
std::wstring CabFile(const wchar_t* name) { return SignedFile((std::wstring(L"cabs\\") + name).c_str()); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A private list in a scratch folder, its own atom, pinned to the test list signer.
struct PrivateList {
    ScratchFolder folder;
    std::wstring atom = UniqueName(L"TrustAtom");
    std::wstring path = folder.File(L"Core\\trusted.js");
    TrustedPublisherList list{path, ListSignerPin(), atom, 7, 300};
    ~PrivateList()
    {
        while (ATOM found = GlobalFindAtomW(atom.c_str())) GlobalDeleteAtom(found);
    }
    void Place(const wchar_t* listName)
    {
        CreateDirectoryW(folder.File(L"Core").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(ListFile(listName).c_str(), path.c_str(), FALSE)) << GetLastError();
    }
};

DWORD LoadedVersion(TrustedPublisherList& list)
{
    TrustedPublisherList::SharedView view(list);
    return view.loaded() ? view.version() : 0;
}

TEST(TrustedListGrammar, LinesSectionsAndComments)
{
    const Map expected = {{L"VER", {L"8"}},
                          {L"ORG", {L"Tervane, Inc.", L"#hash is a value", L"Second Org"}},
                          {L"X Y", {L"kept"}}};
    const std::string lf =
        "ignored before any section\n"
        "/* block comment start\n"
        "*/ block comment end\n"
        "  // an indented comment\n"
        "\t[VER]  \n"
        "8\n"
        "\n"
        "[ORG]\n"
        "  Tervane, Inc.\t\n"
        "#hash is a value\n"
        "[ X Y ]\n"
        "kept\n"
        "[ORG]\n"
        "Second Org";
    bool valid = false;
    EXPECT_EQ(expected, Parse(lf, &valid));
    EXPECT_TRUE(valid);

    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    EXPECT_EQ(expected, Parse(crlf + "\r\n", &valid));
    EXPECT_TRUE(valid);

    // Each byte is one character.
    const Map latin = Parse("[ORG]\n\xC9tude S.A.\n");
    ASSERT_EQ(1u, latin.at(L"ORG").size());
    EXPECT_EQ(std::wstring(L"\u00C9tude S.A."), latin.at(L"ORG")[0]);
}

TEST(TrustedListGrammar, EmptySectionNameInvalidatesTheWholeFile)
{
    for (const char* text : {"[VER]\n8\n[ ]\n", "[VER]\n8\n[]\n", "[\t]\r\n[VER]\n8\n"}) {
        bool valid = true;
        EXPECT_TRUE(Parse(text, &valid).empty()) << text;
        EXPECT_FALSE(valid) << text;
    }
    bool valid = false;
    EXPECT_EQ((Map{{L"VER", {L"[", L"]"}}}), Parse("[VER]\n[\n]\n", &valid));  // one bracket is a value
    EXPECT_TRUE(valid);
}

TEST(TrustedListGrammar, VersionAndThumbprintRules)
{
    const std::wstring sha(40, L'a');
    DWORD version = 0;
    EXPECT_TRUE(TrustedPublisherList::CheckSections({{L"VER", {L"4294967295"}}, {L"SHA", {sha, L"0123456789ABCDEFabcdef0123456789abcdef01"}}}, &version));
    EXPECT_EQ(4294967295u, version);
    const std::vector<Map> bad = {
        {},
        {{L"VER", {}}},
        {{L"VER", {L"8", L"9"}}},
        {{L"VER", {L"4294967296"}}},
        {{L"VER", {L"8x"}}},
        {{L"VER", {L"-8"}}},
        {{L"VER", {L"0x8"}}},
        {{L"VER", {L"8"}}, {L"SHA", {sha, std::wstring(39, L'a')}}},
        {{L"VER", {L"8"}}, {L"SHA", {std::wstring(41, L'a')}}},
        {{L"VER", {L"8"}}, {L"SHA", {std::wstring(38, L'a') + L"ag"}}},
        {{L"VER", {L"8"}}, {L"SHA", {L""}}},
    };
    for (const Map& sections : bad) {
        EXPECT_FALSE(TrustedPublisherList::CheckSections(sections, &version));
    }
}

TEST(TrustedPublisherList, LoadsOnlyASoundFileSignedByThePinnedSigner)
{
    PrivateList fixture;
    EXPECT_FALSE(fixture.list.LoadLocked());  // no file yet
    fixture.Place(L"v8-other.js");
    ASSERT_TRUE(fixture.list.LoadLocked());
    {
        TrustedPublisherList::SharedView view(fixture.list);
        ASSERT_TRUE(view.loaded());
        EXPECT_EQ(8u, view.version());
        const TrustedSignerList signers = view.signerList();
        ASSERT_NE(nullptr, signers.organisationNames);
        EXPECT_STREQ(L"Other Maker Ltd", signers.organisationNames[0]);
        EXPECT_EQ(nullptr, signers.organisationNames[1]);
        EXPECT_EQ(nullptr, signers.serialSkipList);
        ASSERT_EQ(1u, signers.thumbprintCount);
        EXPECT_EQ(0, memcmp(TestSigning::kRootListedThumbprint, signers.thumbprints[0], 20));
    }
    fixture.list.Clear();
    EXPECT_FALSE(fixture.list.IsLoaded());

    for (const wchar_t* name : {L"v8-other-unsigned.js", L"v8-other-unpinned.js", L"v8-badsha.js", L"v8-twover.js"}) {
        TrustedPublisherList list(ListFile(name), ListSignerPin(), fixture.atom, 7, 300);
        EXPECT_FALSE(list.LoadLocked()) << name;
        EXPECT_FALSE(list.IsLoaded()) << name;
    }
    // One character of the signed text changed.
    {
        HANDLE file = CreateFileW(ListFile(L"v8-other.js").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        std::string text(8192, '\0');
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr));
        CloseHandle(file);
        text.resize(read);
        const std::size_t at = text.find("Other Maker Ltd");
        ASSERT_NE(std::string::npos, at);
        text[at + 14] = 'x';
        const std::wstring tampered = fixture.folder.File(L"tampered.js");
        file = CreateFileW(tampered.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, text.data(), read, &written, nullptr));
        CloseHandle(file);
        TrustedPublisherList list(tampered, ListSignerPin(), fixture.atom, 7, 300);
        EXPECT_FALSE(list.LoadLocked());
    }
    // The production list pins another signer: the test list never loads there.
    TrustedPublisherList production(ListFile(L"v8-other.js"));
    EXPECT_FALSE(production.LoadLocked());
}

TEST(TrustedPublisherList, AHeldFileLockIsWaitedForOnlyBriefly)
{
    PrivateList fixture;
    fixture.Place(L"v8-other.js");
    HANDLE holder = CreateFileW(fixture.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    OVERLAPPED whole = {};
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(fixture.list.LoadLocked());
    const ULONGLONG waited = GetTickCount64() - start;
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 10000u);  // a bound, not a measurement: a busy machine stretches the 300 ms wait
    EXPECT_FALSE(fixture.list.IsLoaded());
    EXPECT_FALSE(fixture.list.Replace(ListFile(L"v9-both.js").c_str()));

    OVERLAPPED again = {};
    ASSERT_TRUE(UnlockFileEx(holder, 0, MAXDWORD, MAXDWORD, &again));
    CloseHandle(holder);
    EXPECT_TRUE(fixture.list.LoadLocked());
    EXPECT_EQ(8u, LoadedVersion(fixture.list));
}

TEST(TrustedPublisherList, ReplaceCreatesTheFolderSignalsTheAtomAndLeavesNoTemporaryFile)
{
    PrivateList fixture;
    const std::wstring temporary = fixture.folder.File(L"Core\\trusted.tmp");
    EXPECT_EQ(0, GlobalFindAtomW(fixture.atom.c_str()));
    ASSERT_TRUE(fixture.list.Replace(ListFile(L"v8-other.js").c_str()));
    EXPECT_EQ(8u, LoadedVersion(fixture.list));
    EXPECT_TRUE(Exists(fixture.path));
    EXPECT_FALSE(Exists(temporary));
    EXPECT_NE(0, GlobalFindAtomW(fixture.atom.c_str()));

    ASSERT_TRUE(fixture.list.Replace(ListFile(L"v9-both.js").c_str()));  // over an existing file
    EXPECT_EQ(9u, LoadedVersion(fixture.list));
    EXPECT_FALSE(Exists(temporary));

    // A replaced file that does not load leaves the list not loaded.
    EXPECT_FALSE(fixture.list.Replace(ListFile(L"v8-other-unsigned.js").c_str()));
    EXPECT_FALSE(fixture.list.IsLoaded());
    EXPECT_FALSE(fixture.list.Replace(fixture.folder.File(L"missing.js").c_str()));
}

TEST(TrustedPublisherList, ReplacementOfAFileInUseWaitsForTheNextStart)
{
    PrivateList fixture;
    fixture.Place(L"v8-other.js");
    // Another program has the list open without sharing deletion: it cannot be replaced now.
    HANDLE user = CreateFileW(fixture.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, user);
    EXPECT_FALSE(fixture.list.Replace(ListFile(L"v9-both.js").c_str()));
    CloseHandle(user);

    // The old list stays in force and the replacement is queued, replacing the existing file.
    EXPECT_TRUE(fixture.list.LoadLocked());
    EXPECT_EQ(8u, LoadedVersion(fixture.list));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                                           0, KEY_QUERY_VALUE, &key));
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size));
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 2, L'\0');
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(value.data()), &size));
    RegCloseKey(key);
    std::vector<std::wstring> entries;
    for (const wchar_t* p = value.data(); p < value.data() + size / sizeof(wchar_t); p += wcslen(p) + 1) {
        entries.emplace_back(p);
    }
    const std::wstring source = L"\\??\\" + fixture.folder.File(L"Core\\trusted.tmp");
    bool queued = false;
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        if (_wcsicmp(entries[i].c_str(), source.c_str()) == 0) {
            queued = true;
            EXPECT_EQ(L"!\\??\\" + fixture.path, entries[i + 1]);  // "!" asks to replace the target
        }
    }
    EXPECT_TRUE(queued);
}

TEST(TrustedPublisherList, InstallsOnlyANewerSignedList)
{
    PrivateList fixture;
    EXPECT_FALSE(fixture.list.InstallTrustedListIfNewer(ListFile(L"v7-other.js").c_str()));  // not above 7
    EXPECT_FALSE(Exists(fixture.path));
    EXPECT_FALSE(fixture.list.InstallTrustedListIfNewer(ListFile(L"v8-other-unsigned.js").c_str()));
    ASSERT_TRUE(fixture.list.InstallTrustedListIfNewer(ListFile(L"v9-both.js").c_str()));
    EXPECT_EQ(9u, LoadedVersion(fixture.list));
    EXPECT_FALSE(fixture.list.InstallTrustedListIfNewer(ListFile(L"v9-both.js").c_str()));  // not above 9
    EXPECT_FALSE(fixture.list.InstallTrustedListIfNewer(ListFile(L"v8-other.js").c_str()));

    // A second user of the same file that never loaded it must not roll it back either.
    TrustedPublisherList other(fixture.path, ListSignerPin(), fixture.atom, 7, 300);
    EXPECT_FALSE(other.InstallTrustedListIfNewer(ListFile(L"v8-other.js").c_str()));
    ASSERT_TRUE(other.LoadLocked());
    EXPECT_EQ(9u, LoadedVersion(other));
    EXPECT_TRUE(other.InstallTrustedListIfNewer(ListFile(L"v10-anyname.js").c_str()));
}

// Points TMP and TEMP at a folder for the lifetime of the object.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::wstring& folder)
    {
        for (int i = 0; i < 2; ++i) {
            wchar_t value[MAX_PATH] = {};
            const DWORD length = GetEnvironmentVariableW(kNames[i], value, MAX_PATH);
            m_had[i] = length > 0 && length < MAX_PATH;
            m_old[i] = value;
            SetEnvironmentVariableW(kNames[i], folder.c_str());
        }
    }
    ~TemporaryFolderOverride()
    {
        for (int i = 0; i < 2; ++i) SetEnvironmentVariableW(kNames[i], m_had[i] ? m_old[i].c_str() : nullptr);
    }

private:
    static constexpr const wchar_t* kNames[2] = {L"TMP", L"TEMP"};
    std::wstring m_old[2];
    bool m_had[2] = {};
};

std::vector<std::wstring> ExtractedCopies(const std::wstring& temp)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data = {};
    // GetTempFileName keeps the first three letters of the "trustedjs" prefix.
    HANDLE find = FindFirstFileW((temp + L"\\tru*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do found.emplace_back(data.cFileName); while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return found;
}

TEST(CabinetExtractor, InstallsANewerListFromTheCabinetAndRemovesTheReadOnlyCopy)
{
    PrivateList fixture;
    // The extracted copies go to the temporary folder: this test's own.
    ScratchFolder temp;
    TemporaryFolderOverride useTemp(temp.Path());
    CabinetExtractor extractor;
    ASSERT_TRUE(extractor.IsUsable());
    EXPECT_FALSE(extractor.ExtractTrustedList(CabFile(L"v7-other.cab").c_str(), fixture.list));
    EXPECT_FALSE(Exists(fixture.path));
    ASSERT_TRUE(extractor.ExtractTrustedList(CabFile(L"v9-both.cab").c_str(), fixture.list));
    EXPECT_EQ(9u, LoadedVersion(fixture.list));
    EXPECT_FALSE(extractor.ExtractTrustedList(CabFile(L"v8-other.cab").c_str(), fixture.list));  // no rollback
    EXPECT_EQ(9u, LoadedVersion(fixture.list));
    EXPECT_FALSE(extractor.ExtractTrustedList(SignedFile(L"good.dll").c_str(), fixture.list));
    // The extracted copies (read-only, as in the cabinet) and their empty ".tmp" twins are gone.
    EXPECT_TRUE(ExtractedCopies(temp.Path()).empty());
}

}  // namespace
