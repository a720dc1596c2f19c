#include "access/message/MessageBusLib.h"

#include "access/ModuleException.h"
#include "access/performance/PerfTimer.h"
#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"
#include "core/version/OSVersion.h"

#include <knownfolders.h>

namespace Velmo {

namespace {

constexpr const wchar_t* kSource = L"MessageBusLib";

template <typename... Arguments>
void Log(ETWLogging::LogLevel level, const wchar_t* function, int line, const wchar_t* format,
         const Arguments&... arguments)
{
    if (ETWLogging::IsLogLevelEnabled(level)) {
        ETWLogging::LogMessage(level, kSource, function, line, format, arguments...);
    }
}

// Built before the entry point runs, destroyed at exit.
const std::wstring g_busLibraryName = L"Corvane.dll";
const std::vector<std::wstring> g_busSearchFolders = {L"$(App.Folder)", L"$(Brannock.InstallDir)"};

}  // namespace

const std::wstring& MessageBusLib::busLibraryName() { return g_busLibraryName; }
const std::vector<std::wstring>& MessageBusLib::busSearchFolders() { return g_busSearchFolders; }

MessageBusLib::MessageBusLib(std::shared_ptr<SharedLibrary> library, std::shared_ptr<MessageBusShimImpl> implementation)
    : m_library(std::move(library)), m_implementation(std::move(implementation))
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusLib::MessageBusLib";
    internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");

    if (!m_library) {
        if (busSearchFolders().empty()) {
            auto [name, folders] = loadFromRegistry();
            m_library = std::make_shared<SharedLibrary>(std::move(name), std::move(folders));
        } else {
            m_library = std::make_shared<SharedLibrary>(busLibraryName(), busSearchFolders());
        }
    }

    const SharedLibraryFunctions* functions = m_library->getFunctions();
    const auto createObject =
        functions != nullptr ? reinterpret_cast<CorvaneCreateObjectFn>(reinterpret_cast<void*>(functions->CreateObject))
                             : nullptr;
    m_table = createObject != nullptr ? createObject(CORVANE_INTERFACE_VERSION) : nullptr;
    if (m_table == nullptr || m_table->createHandle == nullptr) {
        m_table = nullptr;
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to get message bus functions object. Throwing ModuleException.");
        throw ModuleException("Failed to get message bus functions object");
    }

    CorvaneHandle handle = nullptr;
    const ModuleStatus status = m_table->createHandle(&handle);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to get message bus handle. Error code: %ls(%lu). Throwing ModuleException.",
            ModuleStatusName(status), static_cast<unsigned long>(status));
        throw ModuleException("Failed to get message bus handle");
    }
    m_handle = handle;

    if (!m_implementation) {
        try {
            m_implementation = std::make_shared<MessageBusShimImpl>(m_handle, m_table);
        } catch (...) {
            // The destructor does not run for a constructor that throws: give the handle back.
            if (m_handle != nullptr && m_table->releaseHandle != nullptr) static_cast<void>(m_table->releaseHandle(m_handle));
            m_handle = nullptr;
            throw;
        }
    }
}

MessageBusLib::~MessageBusLib()
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusLib::~MessageBusLib";
    m_implementation.reset();
    if (m_handle != nullptr && m_table != nullptr && m_table->releaseHandle != nullptr) {
        const ModuleStatus status = m_table->releaseHandle(m_handle);
        if (status != MODULE_STATUS_SUCCESS) {
            Log(ETWLogging::kLevelWarning, kFunction, __LINE__, L"Failed to release message bus. Error code %ls(%lu).",
                ModuleStatusName(status), static_cast<unsigned long>(status));
        }
    }
    m_handle = nullptr;
    m_table = nullptr;
    // Unloads the DLL, after its threads are gone.
    m_library.reset();
}

ModuleStatus MessageBusLib::publish(const std::shared_ptr<Message>& message, std::uint32_t flag)
{
    return m_implementation->publish(message, flag);
}

ModuleStatus MessageBusLib::request(const std::shared_ptr<Message>& message, std::uint32_t replyIndex,
                                    ReplyHandler* replyContext, const std::chrono::milliseconds& timeout,
                                    std::uint32_t flag)
{
    return m_implementation->request(message, replyIndex, replyContext, timeout, flag);
}

ModuleStatus MessageBusLib::setReplyCallback() { return m_implementation->setReplyCallback(); }

std::uint32_t MessageBusLib::subscribe(const std::wstring& messageName, SubscriberCallback* context)
{
    return m_implementation->subscribe(messageName, context);
}

std::uint32_t MessageBusLib::subscribeFilter(const std::wstring& namePattern, SubscriberCallback* context)
{
    return m_implementation->subscribeFilter(namePattern, context);
}

ModuleStatus MessageBusLib::unsubscribe(std::uint32_t subscriptionId)
{
    return m_implementation->unsubscribe(subscriptionId);
}

std::pair<std::wstring, std::vector<std::wstring>> MessageBusLib::loadFromRegistry(std::shared_ptr<RegistryAPI> registry,
                                                                                   std::shared_ptr<ShlObjAPI> shell)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusLib::loadFromRegistry";
    if (!registry) registry = std::make_shared<RegistryAPI>();
    if (!shell) shell = std::make_shared<ShlObjAPI>();

    std::wstring folder;
    if (Fundor::IsWow64()) {
        if (registry->readString(L"SOFTWARE\\TERVANE\\BRANN", L"Install Dir32", folder) != MODULE_STATUS_SUCCESS) {
            Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to retrieve Brann WoW64 path from registry");
        }
    } else if (registry->readString(L"SOFTWARE\\TERVANE\\BRANN", L"Install Dir", folder) != MODULE_STATUS_SUCCESS) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to retrieve Brann path from registry");
    }
    if (folder.empty()) {
        PWSTR common = nullptr;
        const HRESULT result = shell->SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, &common);
        Fundor::ScopedCoTaskMemory owner(common);
        if (SUCCEEDED(result) && common != nullptr) folder = std::wstring(common) + L"\\Tervane\\Brannock";
    }
    Log(ETWLogging::kLevelInformation, kFunction, __LINE__, L"Loading MesageBusLib by force from path: %s", folder);
    return {busLibraryName(), std::vector<std::wstring>{folder}};
}

}  // namespace Velmo
