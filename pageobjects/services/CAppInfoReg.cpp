#include "pageobjects/services/CAppInfoReg.h"

#include "core/Logging/Logging.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSource[] = L"KvObjReg_Helper";
constexpr wchar_t kFunction[] = L"CAppInfoReg::QueryAppList";
constexpr wchar_t kMutexName[] = L"Global\\925307EC846D458b9B0CFDA691F052A4";
constexpr wchar_t kApplicationInfoKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo";
constexpr DWORD kMutexWaitMs = 7000;

std::uint32_t AppIdRank(const wchar_t* id)
{
    static constexpr const wchar_t* kOrder[] = {L"QRN", L"ZEB", L"QEM", L"WOTA", L"XUP", L"JIV", L"DAQ", L"GUF"};
    if (id == nullptr) return 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < std::size(kOrder); ++i) {
        if (_wcsicmp(id, kOrder[i]) == 0) return i + 1;
    }
    return 0xFFFFFFFFu;
}

// Releases the mutex at scope end only when the wait actually obtained it.
class MutexTurn {
public:
    explicit MutexTurn(HANDLE mutex) : m_mutex(mutex)
    {
        if (m_mutex == nullptr) return;
        const DWORD waited = WaitForSingleObject(m_mutex, kMutexWaitMs);
        m_owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~MutexTurn()
    {
        if (m_owned) ReleaseMutex(m_mutex);
    }
    MutexTurn(const MutexTurn&) = delete;
    MutexTurn& operator=(const MutexTurn&) = delete;

private:
    HANDLE m_mutex;
    bool m_owned = false;
};

DWORD CopyList(const std::vector<std::wstring>& ids, WCHAR*** out)
{
    auto** array = static_cast<WCHAR**>(CoTaskMemAlloc(ids.size() * sizeof(WCHAR*)));
    if (array == nullptr) return ERROR_OUTOFMEMORY;
    std::fill(array, array + ids.size(), nullptr);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        array[i] = static_cast<WCHAR*>(CoTaskMemAlloc((ids[i].size() + 1) * sizeof(WCHAR)));
        if (array[i] == nullptr) {
            FreeAppList(static_cast<DWORD>(i), array);
            return ERROR_OUTOFMEMORY;
        }
        wmemcpy(array[i], ids[i].c_str(), ids[i].size() + 1);
    }
    *out = array;
    return ERROR_SUCCESS;
}

}  // namespace

bool CompareAppIds(const wchar_t* a, const wchar_t* b) noexcept
{
    return AppIdRank(a) < AppIdRank(b);
}

void FreeAppList(DWORD count, WCHAR** list) noexcept
{
    if (list == nullptr) return;
    for (DWORD i = 0; i < count; ++i) {
        if (list[i] != nullptr) CoTaskMemFree(list[i]);
    }
    CoTaskMemFree(list);
}

CAppInfoReg::CAppInfoReg() : m_mutex(CreateMutexW(nullptr, FALSE, kMutexName))
{
    m_storage.reset(new (std::nothrow) CKvRegStorage());
    if (m_storage) m_storage->SetRoot(L"HKEY_LOCAL_MACHINE");
}

DWORD CAppInfoReg::QueryAppList(DWORD* count, WCHAR*** list)
{
    const MutexTurn turn(m_mutex.get());
    ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction, L"\r\n");
    ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction, L"Enter QueryAppList()");
    DWORD result = ERROR_SUCCESS;
    if (count == nullptr || list == nullptr) {
        ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"..pdwAppCount or pppAppIDList is NULL");
        result = ERROR_INVALID_PARAMETER;
    } else {
        *count = 0;
        *list = nullptr;
        try {
            std::vector<std::wstring> ids;
            if (!m_storage) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"..Storage object isn't initialized");
                result = ERROR_INVALID_HANDLE;
            } else {
                ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction, L"..Try to read App Info list from %s",
                       kApplicationInfoKey);
                const LONG listed = m_storage->EnumSubKeys(kApplicationInfoKey, ids);
                if (listed != ERROR_SUCCESS && listed != ERROR_FILE_NOT_FOUND) {
                    ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"..Failed to get list from %s",
                           kApplicationInfoKey);
                    result = static_cast<DWORD>(listed);
                }
            }
            if (result == ERROR_SUCCESS) {
                std::stable_sort(ids.begin(), ids.end(), [](const std::wstring& a, const std::wstring& b) {
                    return CompareAppIds(a.c_str(), b.c_str());
                });
                if (ids.empty()) {
                    ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction, L"..Empty AppInfo List");
                } else if ((result = CopyList(ids, list)) != ERROR_SUCCESS) {
                    ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"..Failed to allocate memory");
                } else {
                    *count = static_cast<DWORD>(ids.size());
                }
            }
        } catch (const std::bad_alloc&) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"..Failed to allocate memory");
            result = ERROR_OUTOFMEMORY;
        }
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction, L"Leave QueryAppList(). Return Code: %ld", result);
    return result;
}
