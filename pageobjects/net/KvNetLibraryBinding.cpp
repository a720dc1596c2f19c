#include "pageobjects/net/KvNetLibraryBinding.h"

#include "core/loading/SafeLoading.h"

#include <string>

HMODULE KvSystemNetLibraryBinding::Load(const char* name)
{
    if (name == nullptr || name[0] == '\0') {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Library names are plain ASCII.
    const std::wstring wide(name, name + std::char_traits<char>::length(name));
    return Fundor::LoadSystemLibrary(wide.c_str());
}

FARPROC KvSystemNetLibraryBinding::Resolve(HMODULE module, const char* name)
{
    if (module == nullptr || name == nullptr || name[0] == '\0') {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::GetProcAddress(module, name);
}

void KvSystemNetLibraryBinding::Free(HMODULE module)
{
    if (module != nullptr) {
        ::FreeLibrary(module);
    }
}

std::shared_ptr<IKvNetLibraryBinding> KvMakeSystemNetLibraryBinding()
{
    return std::make_shared<KvSystemNetLibraryBinding>();
}
