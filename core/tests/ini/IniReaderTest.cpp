#include "core/base/ScopedResource.h"
#include "core/ini/CObfuscatedIniReader.h"
#include "core/registry/Md5Digest.h"
#include "core/registry/ObfuscationCipher.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Fundor {
namespace {

using ::Fundor::testing::ScratchFolder;
using Section = std::unordered_map<std::wstring, std::wstring>;

// Integer 1 under key K, computed independently of this code.
const std::string kHeaderOfOne = "4B5652470100000004000000040000000100000076716321D1411D602C0071B7AC0A263AA8";
const std::string kDataOfOne = "9341961882";

std::string ReadBytes(const std::wstring& path)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(65536, '\0');
    DWORD got = 0;
    if (!file.valid() || !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
        return "<unreadable>";
    }
    bytes.resize(got);
    return bytes;
}

void WriteBytes(const std::wstring& path, const void* data, std::size_t size)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.valid() && ::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr));
    ASSERT_EQ(size, written);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) { WriteBytes(path, bytes.data(), bytes.size()); }

std::unique_ptr<CObfuscatedIniReader> Loaded(const std::wstring& path)
{
    auto reader = std::make_unique<CObfuscatedIniReader>();
    EXPECT_TRUE(reader->Load(path));
    return reader;
}

// The value ReadInt gives, or nothing when it fails (checking that the default was kept).
std::optional<int> Int(CObfuscatedIniReader& reader, const std::wstring& section, const std::wstring& key)
{
    int value = -314;
    if (reader.ReadInt(section, key, value)) return value;
    EXPECT_EQ(-314, value);
    return std::nullopt;
}

std::optional<std::wstring> Text(CObfuscatedIniReader& reader, const std::wstring& section, const std::wstring& key)
{
    std::wstring value = L"default";
    if (reader.ReadString(section, key, value)) return value;
    EXPECT_EQ(L"default", value);
    return std::nullopt;
}

// Hex text as WritePrivateProfileStructW makes it: the bytes, then their sum's low byte.
std::string StructHex(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    unsigned sum = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        const std::uint8_t byte = i < size ? data[i] : static_cast<std::uint8_t>(sum);
        sum += byte;
        text += {digits[byte >> 4], digits[byte & 15]};
    }
    return text;
}

// Header field N of the enciphered value `key` in the file's text.
unsigned HeaderLength(const std::string& file, const std::string& key)
{
    const std::size_t at = file.find("\n_" + key + "=");
    return at == std::string::npos ? 0 : std::stoul(file.substr(at + key.size() + 3 + 16, 2), nullptr, 16);
}

TEST(ObfuscatedIniReader, WriteIntProducesTheExactIniFormWhichReadsBack)
{
    ScratchFolder folder;
    const std::wstring path = folder.File(L"log.ini");
    // A missing file fails to load but keeps the path, so the write creates it.
    CObfuscatedIniReader writer;
    EXPECT_FALSE(writer.Load(path));
    EXPECT_EQ(path, writer.FilePath());
    ASSERT_TRUE(writer.WriteInt(L"S", L"K", 1));
    EXPECT_EQ("[S]\r\n_K=" + kHeaderOfOne + "\r\nK=" + kDataOfOne + "\r\n", ReadBytes(path));
    EXPECT_EQ(1, Int(writer, L"S", L"K"));  // the cache knows it at once

    auto reader = Loaded(path);
    EXPECT_EQ(1, Int(*reader, L"S", L"K"));
    int byName = 0;
    EXPECT_TRUE(reader->ReadInt(L"S.K", byName));
    EXPECT_EQ(1, byName);
    ASSERT_NE(nullptr, reader->FindEntry(L"S", L"K"));
    EXPECT_EQ(4u, reader->FindEntry(L"S", L"K")->type);

    // The same lines written by hand (ANSI, line feeds only) read back the same.
    WriteBytes(folder.File(L"hand.ini"), "[S]\n_K=" + kHeaderOfOne + "\nK=" + kDataOfOne + "\n");
    EXPECT_EQ(1, Int(*Loaded(folder.File(L"hand.ini")), L"S", L"K"));
}

TEST(ObfuscatedIniReader, PlainValuesAreHiddenFromReadsButListedBySection)
{
    ScratchFolder folder;
    const std::wstring path = folder.File(L"log.ini");
    WriteBytes(path, "[Config]\r\nEnable=1\r\nSeverity = 2 \r\n[Empty]\r\n[config]\r\n_K=" + kHeaderOfOne +
                         "\r\nK=" + kDataOfOne + "\r\n");
    auto reader = Loaded(path);
    EXPECT_EQ(std::nullopt, Int(*reader, L"Config", L"Enable"));
    std::wstring text = L"default";
    EXPECT_FALSE(reader->ReadString(L"Config.Enable", text));
    EXPECT_EQ(L"default", text);

    Section section{{L"Enable", L"old"}, {L"Other", L"kept"}};
    ASSERT_TRUE(reader->ReadSection(L"Config", section));
    EXPECT_EQ((Section{{L"Enable", L"1"}, {L"Severity", L"2"}, {L"Other", L"kept"}}), section);
    // A heading alone makes no section: sections exist through their values.
    Section empty;
    EXPECT_FALSE(reader->ReadSection(L"Empty", empty));
    EXPECT_FALSE(reader->ReadSection(L"Missing", empty));
    EXPECT_TRUE(empty.empty());

    // Names are case-sensitive in the cache.
    EXPECT_EQ(std::nullopt, Int(*reader, L"Config", L"K"));
    EXPECT_EQ(std::nullopt, Int(*reader, L"config", L"k"));
    EXPECT_EQ(1, Int(*reader, L"config", L"K"));
    Section lower;
    ASSERT_TRUE(reader->ReadSection(L"config", lower));
    EXPECT_EQ((Section{{L"K", L"1"}}), lower);  // the header key is not a value
}

TEST(ObfuscatedIniReader, ParsesHeadingsCommentsAndRepeatsByTheRules)
{
    ScratchFolder folder;
    WriteBytes(folder.File(L"rules.ini"),
               "top=before any heading\r\n  [ S ]  \r\n; comment=not a value\r\nA=first\r\nA=second\r\n"
               "no equals sign\r\n[]\r\nB = x = y \r\n[T]\r\nC=1\r\n[S]\r\nA=third\r\nD=4\r\n");
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(folder.File(L"rules.ini")));
    Section s, top;
    ASSERT_TRUE(reader.ReadSection(L"S", s));
    EXPECT_EQ((Section{{L"A", L"first"}, {L"B", L"x = y"}, {L"D", L"4"}}), s);
    ASSERT_TRUE(reader.ReadSection(L"", top));
    EXPECT_EQ((Section{{L"top", L"before any heading"}}), top);
    EXPECT_EQ(5u, reader.EntryCount());
    EXPECT_EQ(3u, reader.SectionCount());

    // A second Load starts afresh: nothing of the first file leaks into it.
    WriteBytes(folder.File(L"second.ini"), "E=5\r\n");
    ASSERT_TRUE(reader.Load(folder.File(L"second.ini")));
    EXPECT_FALSE(reader.ReadSection(L"S", s));
    Section secondTop;
    ASSERT_TRUE(reader.ReadSection(L"", secondTop));
    EXPECT_EQ((Section{{L"E", L"5"}}), secondTop);
    EXPECT_EQ(0u, reader.SectionCount());
}

TEST(ObfuscatedIniReader, OnlyAMatchingIntactHeaderAndDataPairDecodes)
{
    // A value whose enciphered bytes hold a zero: a non-hex pair there must not pass for "00".
    std::uint8_t record[36] = {'K', 'V', 'R', 'G', 1, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0};
    std::uint8_t sealed[4] = {};
    std::size_t zeroAt = 4;
    std::uint32_t zeroValue = 0;
    for (; zeroAt == 4; ++zeroValue) {
        const std::uint8_t plain[4] = {static_cast<std::uint8_t>(zeroValue), static_cast<std::uint8_t>(zeroValue >> 8)};
        ObfuscationCipher cipher(kIniCipherKey, kCipherKeyLength, 1);
        ASSERT_TRUE(cipher.Encipher(plain, sealed, 4));
        for (zeroAt = 0; zeroAt < 4 && sealed[zeroAt] != 0; ++zeroAt) {}
    }
    ASSERT_EQ(0, Md5Digest(sealed, 4, record + 20, 16));
    const std::string zeroHeader = StructHex(record, 36), zeroData = StructHex(sealed, 4);
    const std::string garbled = std::string(zeroData).replace(zeroAt * 2, 2, "Z0");

    auto with = [](std::string text, std::size_t at, char digit) { return text.replace(at, 1, 1, digit); };
    const std::string& h = kHeaderOfOne;
    const std::string& d = kDataOfOne;
    ScratchFolder folder;
    const std::wstring path = folder.File(L"pairs.ini");
    WriteBytes(path, "[S]\r\n_Zero=" + zeroHeader + "\r\nZero=" + zeroData + "\r\n_Garbled=" + zeroHeader +
                         "\r\nGarbled=" + garbled + "\r\n_Lonely=" + h + "\r\nBare=" + d +
                         "\r\n_Tampered=" + h + "\r\nTampered=" + with(d, 5, '7') +     // one data digit
                         "\r\n_Version=" + with(h, 9, '2') + "\r\nVersion=" + d +       // version 2
                         "\r\n_Marker=" + with(h, 33, '0') + "\r\nMarker=" + d +        // offset 16 is 0
                         "\r\n_Type=" + with(h, 25, '5') + "\r\nType=" + d +            // type 5
                         "\r\n_Empty=" + h + "\r\nEmpty=\r\n_Short=" + h + "\r\nShort=93" +
                         "\r\n_Odd=" + h + "\r\nOdd=934196188\r\n_Long=" + h + "\r\nLong=934196180082" +
                         "\r\n_Lower=" + h + "\r\nLower=934196188a" +                   // checksum unchecked
                         "\r\n_Dup=" + h + "\r\nDup=" + d + "\r\n_Dup=" + with(h, 40, 'F') + "\r\n");
    auto reader = Loaded(path);
    EXPECT_EQ(static_cast<int>(zeroValue - 1), Int(*reader, L"S", L"Zero"));
    EXPECT_EQ(1, Int(*reader, L"S", L"Lower"));
    EXPECT_EQ(1, Int(*reader, L"S", L"Dup")) << "the first header pairs with the first data line";
    for (const wchar_t* key : {L"Garbled", L"Lonely", L"Bare", L"Tampered", L"Version", L"Marker", L"Type", L"Empty",
                               L"Short", L"Odd", L"Long"}) {
        EXPECT_EQ(std::nullopt, Int(*reader, L"S", key)) << key;
    }
    Section s;
    ASSERT_TRUE(reader->ReadSection(L"S", s));
    EXPECT_EQ(0u, s.count(L"Lonely") + s.count(L"_Lonely"));  // a header without data is dropped
    EXPECT_EQ(L"9341961882", s[L"Bare"]);
    EXPECT_EQ(L"9341971882", s[L"Tampered"]);
    EXPECT_EQ(L"", s[L"Empty"]);
}

// Records the pieces that reach Parse.
class RecordingReader : public CObfuscatedIniReader {
public:
    std::vector<std::wstring> pieces;

protected:
    void Parse(const std::wstring& line) override
    {
        pieces.push_back(line);
        CObfuscatedIniReader::Parse(line);
    }
};

TEST(ObfuscatedIniReader, ALongLineReachesParseInPieces)
{
    ScratchFolder folder;
    const std::string tail = std::string(100, 'y') + "Tail=z" + std::string(369, 'y');
    WriteBytes(folder.File(L"long.ini"), "[S]\r\nA=" + std::string(1021, 'x') + tail + "\r\nB=" +
                                             std::string(1498, 'w') + "\r\nC=3");
    RecordingReader reader;
    ASSERT_TRUE(reader.Load(folder.File(L"long.ini")));
    std::vector<std::size_t> sizes;
    for (const auto& piece : reader.pieces) sizes.push_back(piece.size());
    EXPECT_EQ((std::vector<std::size_t>{4, 1023, 476, 1023, 478, 3}), sizes);  // line feeds included

    Section s;
    ASSERT_TRUE(reader.ReadSection(L"S", s));
    // The tail of A holds an '=' and so came through as a key of its own; B's tail did not.
    EXPECT_EQ((Section{{L"A", std::wstring(1021, L'x')},
                       {std::wstring(100, L'y') + L"Tail", L"z" + std::wstring(369, L'y')},
                       {L"B", std::wstring(1021, L'w')},
                       {L"C", L"3"}}),
              s);
}

// Restores the thread's locale (and so CP_THREAD_ACP) when the test ends.
struct ThreadLocaleScope {
    LCID saved = ::GetThreadLocale();
    explicit ThreadLocaleScope(LCID locale) { EXPECT_TRUE(::SetThreadLocale(locale)); }
    ~ThreadLocaleScope() { ::SetThreadLocale(saved); }
};

TEST(ObfuscatedIniReader, StringsRoundTripInTheThreadsAnsiCodePage)
{
    ScratchFolder folder;
    const std::wstring path = folder.File(L"strings.ini");
    CObfuscatedIniReader writer;
    EXPECT_FALSE(writer.Load(path));
    // e acute and the euro sign are single bytes of code page 1252, the test prefix's ANSI page.
    const std::wstring text = L"Caf\u00e9 \u20ac 5";
    ASSERT_TRUE(writer.WriteString(L"S", L"Name", text));
    ASSERT_TRUE(writer.WriteString(L"S", L"Number", L"-42 apples"));
    ASSERT_TRUE(writer.WriteString(L"S", L"Huge", L"99999999999"));
    EXPECT_EQ(8u, HeaderLength(ReadBytes(path), "Name"));
    // Refused, and nothing written: a character the code page lacks, and an empty text.
    EXPECT_FALSE(writer.WriteString(L"S", L"Foreign", L"\u4e2d"));
    EXPECT_FALSE(writer.WriteString(L"S", L"Blank", L""));
    EXPECT_EQ(std::string::npos, ReadBytes(path).find("Foreign"));
    EXPECT_EQ(std::string::npos, ReadBytes(path).find("Blank"));

    auto reader = Loaded(path);
    EXPECT_EQ(text, Text(*reader, L"S", L"Name"));
    EXPECT_EQ(1u, reader->FindEntry(L"S", L"Name")->type);
    EXPECT_EQ(-42, Int(*reader, L"S", L"Number"));
    EXPECT_EQ(0, Int(*reader, L"S", L"Name"));  // no leading digits
    EXPECT_EQ(INT_MAX, Int(*reader, L"S", L"Huge"));

    // A double-byte code page: N is the byte count, so nothing is cut off.
    ThreadLocaleScope japanese(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
    const std::wstring wide = L"\u65e5\u672c\u8a9e-x";
    ASSERT_TRUE(writer.WriteString(L"S", L"Wide", wide));
    EXPECT_EQ(8u, HeaderLength(ReadBytes(path), "Wide"));
    EXPECT_EQ(wide, Text(*Loaded(path), L"S", L"Wide"));
}

TEST(ObfuscatedIniReader, ReadsWhatTheProfileFunctionsWroteInEitherEncoding)
{
    ScratchFolder folder;
    // New files are written in the ANSI code page, where the euro sign is byte 0x80: a byte-wise
    // reader would take it for U+0080.
    const std::wstring ansiPath = folder.File(L"ansi.ini");
    const std::wstring euro = L"Pre\u20ac";
    ASSERT_TRUE(::WritePrivateProfileStringW(euro.c_str(), L"Note", L"caf\u00e9", ansiPath.c_str()));
    ASSERT_TRUE(Loaded(ansiPath)->WriteInt(euro, L"Severity", 2));
    EXPECT_EQ("[Pre\x80]\r\nNote=caf\xE9\r\n_Severity=", ReadBytes(ansiPath).substr(0, 29));
    auto ansiReader = Loaded(ansiPath);
    EXPECT_EQ(2, Int(*ansiReader, euro, L"Severity"));
    Section ansiSection;
    ASSERT_TRUE(ansiReader->ReadSection(euro, ansiSection));
    EXPECT_EQ(L"caf\u00e9", ansiSection[L"Note"]);

    // A file with a UTF-16 byte-order mark stays UTF-16 when the profile functions write to it.
    const std::wstring unicodePath = folder.File(L"unicode.ini");
    const std::wstring seed = L"\xFEFF[Config]\r\nNote=\u20ac\r\n";
    WriteBytes(unicodePath, seed.data(), seed.size() * sizeof(wchar_t));
    {
        auto writer = Loaded(unicodePath);
        ASSERT_TRUE(writer->WriteInt(L"Config", L"MaxSize", -7));
        ASSERT_TRUE(writer->WriteString(L"Config", L"Text", L"\u00e9t\u00e9"));
    }
    EXPECT_EQ(std::string("\xFF\xFE[\0", 4), ReadBytes(unicodePath).substr(0, 4));
    auto unicodeReader = Loaded(unicodePath);
    EXPECT_EQ(-7, Int(*unicodeReader, L"Config", L"MaxSize"));
    EXPECT_EQ(L"\u00e9t\u00e9", Text(*unicodeReader, L"Config", L"Text"));
    Section unicodeSection;
    ASSERT_TRUE(unicodeReader->ReadSection(L"Config", unicodeSection));
    EXPECT_EQ(L"\u20ac", unicodeSection[L"Note"]);
}

TEST(ObfuscatedIniReader, WritesNeedABoundPathSucceedForRealAndFitOnALine)
{
    ScratchFolder folder;
    CObfuscatedIniReader unbound;
    EXPECT_FALSE(unbound.WriteInt(L"S", L"K", 1));
    EXPECT_FALSE(unbound.WriteString(L"S", L"K", L"x"));
    EXPECT_FALSE(unbound.Load(L""));
    // A missing folder is not a missing file: the path is let go and writes fail.
    EXPECT_FALSE(unbound.Load(folder.File(L"no folder\\log.ini")));
    EXPECT_TRUE(unbound.FilePath().empty());
    EXPECT_FALSE(unbound.WriteInt(L"S", L"K", 1));

    // A bare name is bound to the current folder, where the read looked, not the Windows folder.
    wchar_t saved[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, saved));
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.Path().c_str()));
    CObfuscatedIniReader relative;
    EXPECT_FALSE(relative.Load(L"relative.ini"));
    ASSERT_TRUE(::SetCurrentDirectoryW(saved));
    EXPECT_EQ(folder.File(L"relative.ini"), relative.FilePath());
    ASSERT_TRUE(relative.WriteInt(L"S", L"K", 1));
    EXPECT_EQ(1, Int(*Loaded(folder.File(L"relative.ini")), L"S", L"K"));

    // A failed profile write (the file held without sharing) is reported; the cache is left alone.
    const std::wstring locked = folder.File(L"locked.ini");
    WriteBytes(locked, "[S]\r\n");
    auto lockedWriter = Loaded(locked);
    {
        ScopedHandle holder(::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.valid());
        EXPECT_FALSE(lockedWriter->WriteInt(L"S", L"K", 1));
        EXPECT_FALSE(lockedWriter->WriteString(L"S", L"T", L"x"));
    }
    EXPECT_EQ(std::nullopt, Int(*lockedWriter, L"S", L"K"));
    EXPECT_EQ(std::nullopt, Text(*lockedWriter, L"S", L"T"));
    EXPECT_EQ("[S]\r\n", ReadBytes(locked));

    // A line too long to come back in one piece is refused before anything is written.
    const std::wstring path = folder.File(L"long.ini");
    CObfuscatedIniReader writer;
    EXPECT_FALSE(writer.Load(path));
    EXPECT_FALSE(writer.WriteInt(L"S", std::wstring(948, L'k'), 1));
    EXPECT_FALSE(writer.WriteString(L"S", L"K", std::wstring(510, L'v')));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
    ASSERT_TRUE(writer.WriteInt(L"S", std::wstring(947, L'k'), 1));
    ASSERT_TRUE(writer.WriteString(L"S", L"K", std::wstring(509, L'v')));
    // Names holding '.' are found through the section-and-key form.
    ASSERT_TRUE(writer.WriteInt(L"a.b", L"c", 9));
    auto reader = Loaded(path);
    EXPECT_EQ(1, Int(*reader, L"S", std::wstring(947, L'k')));
    EXPECT_EQ(std::wstring(509, L'v'), Text(*reader, L"S", L"K"));
    EXPECT_EQ(9, Int(*reader, L"a.b", L"c"));
}

TEST(ObfuscatedIniReader, AWriteUpdatesTheFirstOfDuplicatedLines)
{
    // The profile functions update the first occurrence; the reader must pair the same lines.
    ScratchFolder folder;
    const std::wstring path = folder.File(L"dup.ini");
    WriteBytes(path, "[S]\r\n_K=" + kHeaderOfOne + "\r\nK=" + kDataOfOne + "\r\n[S]\r\n_K=" + kHeaderOfOne +
                         "\r\nK=0000\r\n");
    ASSERT_TRUE(Loaded(path)->WriteInt(L"S", L"K", 5));
    EXPECT_EQ(5, Int(*Loaded(path), L"S", L"K"));
}

}  // namespace
}  // namespace Fundor
