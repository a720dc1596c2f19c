#include "core/Logging/CLogger.h"

#include "core/base/StringFormat.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <new>

namespace Fundor {
namespace {

// Both constant-initialised: a message from any static initialiser finds them ready.
constinit CDefaultLoggingHandler g_defaultHandler;
constinit std::atomic<ILoggingHandler*> g_handler{nullptr};

constexpr const wchar_t* kInternalFile = L"Logging\\internal_logging";
constexpr const wchar_t* kRegisterFunction = L"Fundor::CLogger::RegisterHandler";
constexpr const wchar_t* kUnregisterFunction = L"Fundor::CLogger::UnregisterHandler";
constexpr std::uint32_t kLevelError = 2;
constexpr DWORD kErrorTextChars = 1024;
constexpr DWORD kErrorInvalidState = 5023;  // ERROR_INVALID_STATE

// The message text of code into text; empty when the system has none.
void ErrorText(DWORD code, wchar_t (&text)[kErrorTextChars]) noexcept
{
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, text, kErrorTextChars, nullptr);
    text[length < kErrorTextChars ? length : 0] = L'\0';
}

// Handlers are printed with "%08X": the low 32 bits of the pointer, passed as such.
unsigned int Low32(const void* pointer) noexcept
{
    return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

namespace {

// Formats and hands one message to handler. Allocation failures send the fixed line instead; a
// handler that throws loses its message.
void SendTo(ILoggingHandler* handler, std::uint32_t level, const wchar_t* file, const wchar_t* function,
            int line, const wchar_t* format, va_list arguments) noexcept
{
    try {
        std::wstring text;
        try {
            text = FormatStringV(format, arguments);
        } catch (const std::bad_alloc&) {
            handler->HandleMessage(kLevelError, file, function, line,
                                   L"General memory-allocation failure in Fundor logger.");
            return;
        }
        handler->HandleMessage(level, file, function, line, text.c_str());
    } catch (...) {
    }
}

// A complaint meant for one handler goes to it directly: swapping the process-wide registration
// to route it would let another thread's registration be refused or overwritten meanwhile.
void LogTo(ILoggingHandler* handler, std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
           const wchar_t* format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    SendTo(handler, level, file, function, line, format, arguments);
    va_end(arguments);
}

}  // namespace

void CLogger::Log(std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
                  const wchar_t* format, ...) noexcept
{
    ILoggingHandler* handler = g_handler.load();
    if (handler == nullptr) {
        ILoggingHandler* none = nullptr;
        (void)g_handler.compare_exchange_strong(none, &g_defaultHandler);
        handler = g_handler.load();
        if (handler == nullptr) {
            return;
        }
    }
    va_list arguments;
    va_start(arguments, format);
    SendTo(handler, level, file, function, line, format, arguments);
    va_end(arguments);
}

std::uint32_t CLogger::RegisterHandler(ILoggingHandler* handler) noexcept
{
    wchar_t text[kErrorTextChars];
    if (handler == nullptr) {
        ErrorText(ERROR_INVALID_PARAMETER, text);
        Log(kLevelError, kInternalFile, kRegisterFunction, 62, L"%s: Cannot Register (NULL) handler", text);
        return ERROR_INVALID_PARAMETER;
    }
    ILoggingHandler* current = g_handler.load();
    while (current == nullptr || current == handler || current == &g_defaultHandler) {
        if (g_handler.compare_exchange_weak(current, handler)) {
            return ERROR_SUCCESS;
        }
    }
    ErrorText(kErrorInvalidState, text);
    Log(kLevelError, kInternalFile, kRegisterFunction, 72,
        L"%s: Registered Logging Handler 0x%08X cannot be replaced with 0x%08X", text, Low32(current), Low32(handler));
    return kErrorInvalidState;
}

std::uint32_t CLogger::UnregisterHandler(ILoggingHandler* handler) noexcept
{
    wchar_t text[kErrorTextChars];
    if (handler == nullptr) {
        ErrorText(ERROR_INVALID_PARAMETER, text);
        Log(kLevelError, kInternalFile, kUnregisterFunction, 97, L"%s: Cannot Unregister (NULL) handler", text);
        return ERROR_INVALID_PARAMETER;
    }
    ILoggingHandler* current = handler;
    if (g_handler.compare_exchange_strong(current, nullptr)) {
        return ERROR_SUCCESS;
    }
    ErrorText(kErrorInvalidState, text);
    if (current == nullptr) {
        LogTo(handler, kLevelError, kInternalFile, kUnregisterFunction, 107,
              L"%s: Request to Unregister Logging handler 0x%08X, but none are registered", text, Low32(handler));
        return kErrorInvalidState;
    }
    // The mismatch goes to both handlers: the registered one, then the requested one.
    constexpr const wchar_t* kMismatch =
        L"%s: Failed to Unregister Logging handler (requested handler 0x%08X != registered handler 0x%08X)";
    LogTo(current, kLevelError, kInternalFile, kUnregisterFunction, 115, kMismatch, text, Low32(handler),
          Low32(current));
    LogTo(handler, kLevelError, kInternalFile, kUnregisterFunction, 120, kMismatch, text, Low32(handler),
          Low32(current));
    return kErrorInvalidState;
}

ILoggingHandler* CLogger::RegisteredHandler() noexcept { return g_handler.load(); }

CDefaultLoggingHandler& CLogger::DefaultHandler() noexcept { return g_defaultHandler; }

std::wstring GetErrorText(DWORD code)
{
    wchar_t text[kErrorTextChars];
    ErrorText(code, text);
    return std::wstring(text);
}

}  // namespace Fundor
