#include "pageobjects/services/kvshortpath.h"

#include "core/Logging/Logging.h"

#include <cwchar>

unsigned KvGetShortPathName(const wchar_t* path, wchar_t* buffer, unsigned characters) noexcept
{
    if (path == nullptr || buffer == nullptr)
        return 0;
    ETWLOG(ETWLogging::kLevelInformation, L"qrncmn", L"CKvUtil::KvGetShortPathName", L"GetShortPathName %s", path);
    // Bounded: a path longer than the buffer is never scanned to its end.
    const size_t length = wcsnlen(path, characters);
    if (characters == 0 || length > characters - 1) {
        ETWLOG(ETWLogging::kLevelInformation, L"qrncmn", L"CKvUtil::KvGetShortPathName",
               L"GetShortPathName %s buffer %d is too small", path, static_cast<int>(characters));
        return 0;
    }
    if (buffer != path)
        wmemmove(buffer, path, length + 1);
    return static_cast<unsigned>(length);
}
