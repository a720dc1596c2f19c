#pragma once
// The transport over the bus DLL "Corvane.dll": finds and loads the DLL (Velmo::SharedLibrary:
// allow-list, version block list, macro folder search, module trust check), takes its function
// table from "CreateObject"(2001000) and a bus handle from table entry 0, and forwards every
// transport operation to a Velmo::MessageBusShimImpl over them.
//
// Destruction order: the implementation (which hands the DLL its reply callback once more), then
// the handle (table entry 1: the DLL stops and joins its delivery threads), then the library.
// After the destructor returns no callback of the DLL runs.

#include "access/dll/SharedLibrary.h"
#include "access/message/MessageBusDllInterface.h"
#include "access/message/MessageBusShim.h"
#include "access/message/MessageBusShimImpl.h"
#include "access/wrappers/RegistryAPI.h"
#include "access/wrappers/ShlObjAPI.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Velmo {

class MessageBusLib : public MessageBusShim {
public:
    // Uses the given library and implementation where present; else loads "Corvane.dll" from the
    // process-wide search list (or, when that is empty, from loadFromRegistry) and makes the
    // implementation over the DLL's handle and table. Throws ModuleException ("Failed to load
    // library", "Failed to import functions from library", "Failed to get message bus functions
    // object", "Failed to get message bus handle", ...); nothing stays loaded or open then.
    explicit MessageBusLib(std::shared_ptr<SharedLibrary> library = nullptr,
                           std::shared_ptr<MessageBusShimImpl> implementation = nullptr);
    MessageBusLib(const MessageBusLib&) = delete;
    MessageBusLib& operator=(const MessageBusLib&) = delete;
    ~MessageBusLib() override;

    [[nodiscard]] ModuleStatus publish(const std::shared_ptr<Message>& message, std::uint32_t flag) override;
    [[nodiscard]] ModuleStatus request(const std::shared_ptr<Message>& message, std::uint32_t replyIndex,
                                       ReplyHandler* replyContext, const std::chrono::milliseconds& timeout,
                                       std::uint32_t flag) override;
    [[nodiscard]] ModuleStatus setReplyCallback() override;
    [[nodiscard]] std::uint32_t subscribe(const std::wstring& messageName, SubscriberCallback* context) override;
    [[nodiscard]] std::uint32_t subscribeFilter(const std::wstring& namePattern, SubscriberCallback* context) override;
    [[nodiscard]] ModuleStatus unsubscribe(std::uint32_t subscriptionId) override;

    // The DLL name and the one folder of the module platform: HKLM "SOFTWARE\TERVANE\BRANN"
    // "Install Dir32" (32-bit process on 64-bit Windows) or "Install Dir", else the common program
    // files folder + "\Tervane\Brannock". Empty wrappers are replaced by the defaults.
    [[nodiscard]] static std::pair<std::wstring, std::vector<std::wstring>> loadFromRegistry(
        std::shared_ptr<RegistryAPI> registry = nullptr, std::shared_ptr<ShlObjAPI> shell = nullptr);

    // The process-wide DLL name and search folders: "Corvane.dll" in "$(App.Folder)", then in
    // "$(Brannock.InstallDir)".
    [[nodiscard]] static const std::wstring& busLibraryName();
    [[nodiscard]] static const std::vector<std::wstring>& busSearchFolders();

    [[nodiscard]] CorvaneHandle handle() const noexcept { return m_handle; }
    [[nodiscard]] const CorvaneFunctionTable* functionTable() const noexcept { return m_table; }

private:
    std::shared_ptr<SharedLibrary> m_library;
    std::shared_ptr<MessageBusShimImpl> m_implementation;
    CorvaneHandle m_handle = nullptr;
    const CorvaneFunctionTable* m_table = nullptr;
};

}  // namespace Velmo
