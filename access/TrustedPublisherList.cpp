#include "access/TrustedPublisherList.h"
#include "core/base/SrwLockGuard.h"

#include "access/CryptoHandles.h"
#include "access/SignatureChecks.h"
#include "core/base/ScopedResource.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <new>

using Fundor::ScopedHandle;
using namespace TrustDetail;

namespace {

constexpr wchar_t kDefaultAtomName[] = L"67136527-5D6B-4AC9-865B-3E392E982420";
constexpr wchar_t kDefaultRelativePath[] =
    L"Program Files\\Common Files\\Tervane\\Platform\\Core\\trusted.js";
// The certificate with which the maker signs the list file.
constexpr TrustedPublisherList::Thumbprint kProductionListSigner = {
    0x5e, 0x1a, 0x93, 0x0c, 0xd7, 0x42, 0x8b, 0x6f, 0x21, 0xe4,
    0x0a, 0x7c, 0x39, 0xb5, 0x58, 0xf2, 0x14, 0x8d, 0xc6, 0x03};

using SharedLock = Fundor::SharedSrwLock;
using ExclusiveLock = Fundor::ExclusiveSrwLock;

// A byte-range lock over the whole list file, so that another process cannot replace the file
// while it is read (shared) or written (exclusive). The wait for it is bounded: a holder that
// never lets go must not hang every trust check.
class TrustedFileLock {
public:
    enum class State { NoFile, Locked, TimedOut };

    TrustedFileLock(const wchar_t* path, bool exclusive, DWORD waitMs)
    {
        m_file.reset(::CreateFileW(path, GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file) {
            m_state = State::NoFile;
            return;
        }
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        const ULONGLONG deadline = ::GetTickCount64() + waitMs;
        for (;;) {
            OVERLAPPED whole = {};
            if (::LockFileEx(m_file.get(), flags, 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole)) {
                m_state = State::Locked;
                return;
            }
            if (::GetTickCount64() >= deadline) {
                m_state = State::TimedOut;
                return;
            }
            ::Sleep(10);
        }
    }
    ~TrustedFileLock() { Release(); }
    TrustedFileLock(const TrustedFileLock&) = delete;
    TrustedFileLock& operator=(const TrustedFileLock&) = delete;

    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] HANDLE handle() const { return m_file.get(); }
    void Release()
    {
        if (m_state == State::Locked) {
            OVERLAPPED whole = {};
            ::UnlockFileEx(m_file.get(), 0, 0xFFFFFFFF, 0xFFFFFFFF, &whole);
            m_state = State::NoFile;
        }
        m_file.reset();
    }

private:
    ScopedHandle m_file;
    State m_state = State::NoFile;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trim(const std::wstring& text, bool dropCarriageReturn)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && (IsBlank(text[end - 1]) || (dropCarriageReturn && text[end - 1] == L'\r'))) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool ParseVersion(const std::wstring& text, DWORD* version)
{
    if (text.empty()) {
        return false;
    }
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - L'0');
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    *version = static_cast<DWORD>(value);
    return true;
}

bool ParseThumbprint(const std::wstring& text, TrustedPublisherList::Thumbprint* thumbprint)
{
    if (text.size() != 40) {
        return false;
    }
    for (std::size_t i = 0; i < 20; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        (*thumbprint)[i] = static_cast<BYTE>(high * 16 + low);
    }
    return true;
}

bool ReadWholeFile(HANDLE file, std::string* contents)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 || size.QuadPart > 16LL * 1024 * 1024) {
        return false;
    }
    contents->assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD total = 0;
    while (total < contents->size()) {
        DWORD read = 0;
        if (!::ReadFile(file, contents->data() + total, static_cast<DWORD>(contents->size() - total),
                        &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        total += read;
    }
    contents->resize(total);
    return true;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TrustedPublisherList::TrustedPublisherList()
    : TrustedPublisherList(DefaultPath(), kProductionListSigner, kDefaultAtomName)
{
}

TrustedPublisherList::TrustedPublisherList(std::wstring path)
    : TrustedPublisherList(std::move(path), kProductionListSigner, kDefaultAtomName)
{
}

TrustedPublisherList::TrustedPublisherList(std::wstring path, const Thumbprint& pinnedSigner,
                                           std::wstring atomName, DWORD builtInVersion,
                                           DWORD fileLockWaitMs)
    : m_path(std::move(path)),
      m_pinnedSigner(pinnedSigner),
      m_atomName(std::move(atomName)),
      m_builtInVersion(builtInVersion),
      m_fileLockWaitMs(fileLockWaitMs)
{
}

TrustedPublisherList::~TrustedPublisherList()
{
    ExclusiveLock lock(m_lock);
    Clear();
}

std::wstring TrustedPublisherList::DefaultPath()
{
    wchar_t path[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    ::PathStripToRootW(path);
    if (!::PathAppendW(path, kDefaultRelativePath)) {
        return {};
    }
    return path;
}

bool TrustedPublisherList::ParseListText(const char* data, std::size_t size, SectionMap& sections)
{
    sections.clear();
    std::vector<std::wstring>* current = nullptr;
    std::size_t position = 0;
    while (position < size) {
        std::size_t end = position;
        while (end < size && data[end] != '\n') ++end;
        std::wstring line;
        line.reserve(end - position);
        for (std::size_t i = position; i < end; ++i) {
            line.push_back(static_cast<wchar_t>(static_cast<unsigned char>(data[i])));
        }
        position = end + 1;

        line = Trim(line, true);
        if (line.empty() || StartsWith(line, L"/*") || StartsWith(line, L"//") ||
            StartsWith(line, L"*/")) {
            continue;
        }
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            const std::wstring name = Trim(line.substr(1, line.size() - 2), false);
            if (name.empty()) {
                sections.clear();
                return false;
            }
            current = &sections[name];
            continue;
        }
        if (current != nullptr) {
            current->push_back(line);
        }
    }
    return true;
}

bool TrustedPublisherList::CheckSections(const SectionMap& sections, DWORD* version)
{
    const auto versions = sections.find(L"VER");
    if (versions == sections.end() || versions->second.size() != 1 ||
        !ParseVersion(versions->second[0], version)) {
        return false;
    }
    if (const auto thumbprints = sections.find(L"SHA"); thumbprints != sections.end()) {
        Thumbprint scratch{};
        for (const std::wstring& text : thumbprints->second) {
            if (!ParseThumbprint(text, &scratch)) {
                return false;
            }
        }
    }
    return true;
}

bool TrustedPublisherList::BuildArrays()
{
    if (!CheckSections(m_sections, &m_version)) {
        return false;
    }
    if (const auto names = m_sections.find(L"ORG"); names != m_sections.end() && !names->second.empty()) {
        for (const std::wstring& name : names->second) m_names.push_back(name.c_str());
        m_names.push_back(nullptr);
    }
    if (const auto serials = m_sections.find(L"SER");
        serials != m_sections.end() && !serials->second.empty()) {
        for (const std::wstring& serial : serials->second) m_serials.push_back(serial.c_str());
        m_serials.push_back(nullptr);
    }
    if (const auto thumbprints = m_sections.find(L"SHA"); thumbprints != m_sections.end()) {
        m_thumbprints.resize(thumbprints->second.size());
        for (std::size_t i = 0; i < thumbprints->second.size(); ++i) {
            if (!ParseThumbprint(thumbprints->second[i], &m_thumbprints[i])) {
                return false;
            }
        }
        for (const Thumbprint& thumbprint : m_thumbprints) m_thumbprintPointers.push_back(thumbprint.data());
    }
    return true;
}

void TrustedPublisherList::Clear()
{
    m_names.clear();
    m_serials.clear();
    m_thumbprints.clear();
    m_thumbprintPointers.clear();
    m_sections.clear();
    m_version = 0;
    m_loaded = false;
}

bool TrustedPublisherList::Load() { return LoadUnlocked(); }

bool TrustedPublisherList::LoadUnlocked() noexcept
{
    if (m_loaded) {
        return true;
    }
    try {
        if (m_path.empty() || !FileExists(m_path)) {
            return false;
        }
        // Held without write or delete sharing from the signature check until the text is read:
        // the file read is the file checked.
        const Fundor::ScopedHandle checkedFile(::CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!checkedFile.valid()) {
            return false;
        }
        if (!VerifyTrustedListSignature(m_path.c_str(), m_pinnedSigner)) {
            return false;
        }
        std::string contents;
        {
            TrustedFileLock fileLock(m_path.c_str(), false, m_fileLockWaitMs);
            if (fileLock.state() != TrustedFileLock::State::Locked ||
                !ReadWholeFile(fileLock.handle(), &contents)) {
                return false;
            }
        }
        if (!ParseListText(contents.data(), contents.size(), m_sections) || !BuildArrays()) {
            Clear();
            return false;
        }
        m_loaded = true;
        return true;
    } catch (...) {
        Clear();
        return false;
    }
}

bool TrustedPublisherList::LoadLocked()
{
    ExclusiveLock lock(m_lock);
    return LoadUnlocked();
}

bool TrustedPublisherList::IsLoaded()
{
    SharedLock lock(m_lock);
    return m_loaded;
}

bool TrustedPublisherList::Reload()
{
    ExclusiveLock lock(m_lock);
    Clear();
    return LoadUnlocked();
}

bool TrustedPublisherList::Replace(const wchar_t* newFile)
{
    ExclusiveLock lock(m_lock);
    return ReplaceUnlocked(newFile);
}

bool TrustedPublisherList::ReplaceUnlocked(const wchar_t* newFile) noexcept
{
    if (newFile == nullptr || newFile[0] == L'\0' || m_path.empty()) {
        return false;
    }
    try {
        TrustedFileLock fileLock(m_path.c_str(), true, m_fileLockWaitMs);
        if (fileLock.state() == TrustedFileLock::State::TimedOut) {
            return false;
        }
        const std::size_t slash = m_path.find_last_of(L'\\');
        if (slash == std::wstring::npos) {
            return false;
        }
        const std::wstring folder = m_path.substr(0, slash);
        const std::wstring temporary = folder + L"\\trusted.tmp";
        if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const int created = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
            if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
        if (!::CopyFileW(newFile, temporary.c_str(), FALSE)) {
            ::DeleteFileW(temporary.c_str());
            return false;
        }
        const bool replaced =
            FileExists(m_path)
                ? ::ReplaceFileW(m_path.c_str(), temporary.c_str(), nullptr,
                                 REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE
                : ::MoveFileW(temporary.c_str(), m_path.c_str()) != FALSE;
        if (!replaced) {
            // The file is in use: let the next start of the machine put the new list in place.
            ::MoveFileExW(temporary.c_str(), m_path.c_str(),
                          MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
            return false;
        }
        fileLock.Release();
        // Other users of the list, here and in other processes, reload before their next re-check.
        ::GlobalAddAtomW(m_atomName.c_str());
        Clear();
        return LoadUnlocked();
    } catch (...) {
        return false;
    }
}

bool TrustedPublisherList::InstallTrustedListIfNewer(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0') {
        return false;
    }
    try {
        TrustedPublisherList candidate(path, m_pinnedSigner, m_atomName, m_builtInVersion,
                                       m_fileLockWaitMs);
        if (!candidate.Load()) {
            return false;
        }
        const DWORD newVersion = candidate.m_version;
        {
            SharedLock lock(m_lock);
            if (m_loaded && newVersion <= m_version) {
                return false;
            }
        }
        if (newVersion <= m_builtInVersion) {
            return false;
        }
        // Never roll back the list on disk, even when this process has not loaded it.
        TrustedPublisherList onDisk(m_path, m_pinnedSigner, m_atomName, m_builtInVersion,
                                    m_fileLockWaitMs);
        if (onDisk.Load() && newVersion <= onDisk.m_version) {
            return false;
        }
        return Replace(path);
    } catch (...) {
        return false;
    }
}

TrustedPublisherList::SharedView::SharedView(TrustedPublisherList& list) : m_list(list)
{
    ::AcquireSRWLockShared(&m_list.m_lock);
}

TrustedPublisherList::SharedView::~SharedView() { ::ReleaseSRWLockShared(&m_list.m_lock); }

TrustedSignerList TrustedPublisherList::SharedView::signerList() const
{
    TrustedSignerList list;
    list.version = m_list.m_version;
    list.organisationNames = m_list.m_names.empty() ? nullptr : m_list.m_names.data();
    list.serialSkipList = m_list.m_serials.empty() ? nullptr : m_list.m_serials.data();
    list.thumbprints = m_list.m_thumbprintPointers.empty() ? nullptr : m_list.m_thumbprintPointers.data();
    list.thumbprintCount = static_cast<DWORD>(m_list.m_thumbprintPointers.size());
    return list;
}

TrustedPublisherList& GlobalTrustedPublisherList()
{
    static TrustedPublisherList list;
    return list;
}

// ---------------------------------------------------------------------------------------------

bool VerifyTrustedListSignature(const wchar_t* path,
                                const TrustedPublisherList::Thumbprint& pinnedSigner)
{
    if (path == nullptr || path[0] == L'\0') {
        return false;
    }
    ScopedCertStore store;
    ScopedCryptMsg message;
    if (!OpenEmbeddedSignature(path, store, message)) {
        return false;
    }
    DWORD signerCount = 0;
    DWORD countSize = sizeof(signerCount);
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signerCount, &countSize) ||
        signerCount != 1) {
        return false;
    }
    DWORD infoSize = 0;
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &infoSize)) {
        return false;
    }
    HeapBuffer info;
    if (!info.allocate(infoSize) ||
        !::CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, info.get(), &infoSize)) {
        return false;
    }
    CERT_INFO wanted = {};
    wanted.Issuer = info.as<CMSG_SIGNER_INFO>()->Issuer;
    wanted.SerialNumber = info.as<CMSG_SIGNER_INFO>()->SerialNumber;
    ScopedCertContext certificate(::CertGetSubjectCertificateFromStore(
        store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &wanted));
    if (!certificate) {
        return false;
    }
    BYTE hash[20] = {};
    DWORD hashSize = sizeof(hash);
    if (!::CertGetCertificateContextProperty(certificate.get(), CERT_SHA1_HASH_PROP_ID, hash,
                                             &hashSize) ||
        hashSize != sizeof(hash) || std::memcmp(hash, pinnedSigner.data(), sizeof(hash)) != 0) {
        return false;
    }
    // The pinned certificate must also be the one that signed.
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate.get());
    if (!::CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify)) {
        return false;
    }
    return FileSignatureVerifies(path);
}
