#include "core/Logging/CDefaultLogBuilder.h"

#include "core/Logging/CLoggingIf_ex.h"
#include "core/Logging/DefaultLoggerFactories.h"
#include "core/registry/CObfuscatedRegKey.h"

#include <utility>

namespace ETWLogging {
namespace {

constexpr const wchar_t* kLoggingKey = L"SOFTWARE\\Tervane\\Logging";
constexpr const wchar_t* kLoggingMechanismValue = L"Logging Mechanism";

bool IsGivenButEmpty(const wchar_t* text) noexcept { return text != nullptr && text[0] == L'\0'; }

}  // namespace

CDefaultLogBuilder::CDefaultLogBuilder() : CDefaultLogBuilder(&CreateEtwLogger, &CreateFileLogger) {}

CDefaultLogBuilder::CDefaultLogBuilder(LoggerFactory createEtwLogger, LoggerFactory createFileLogger)
    : m_createEtwLogger(std::move(createEtwLogger)), m_createFileLogger(std::move(createFileLogger))
{
}

bool CDefaultLogBuilder::BuildLogger(const wchar_t* group, HMODULE module, const wchar_t* host,
                                     std::uint32_t loggerMode, CLoggingIf** logger,
                                     LoggingMechanismSource* mechanism)
{
    return BuildLoggerEx(nullptr, group, module, host, loggerMode, logger, mechanism);
}

bool CDefaultLogBuilder::ChoosesFileLogger(std::uint32_t loggerMode, LoggingMechanismSource* mechanism) noexcept
{
    if (loggerMode == kFileLoggerMode) {
        return true;
    }
    DWORD value = 0;  // a value that cannot be read counts as 0
    if (mechanism != nullptr) {
        if (!mechanism->QueryLoggingMechanism(value)) {
            value = 0;
        }
        return value == kFileLoggerMechanism;
    }
    try {
        Fundor::CObfuscatedRegKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, kLoggingKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
            return false;
        }
        if (key.QueryDWORDValue(kLoggingMechanismValue, value) != ERROR_SUCCESS) {
            value = 0;
        }
    } catch (...) {
        return false;
    }
    return value == kFileLoggerMechanism;
}

bool CDefaultLogBuilder::BuildLoggerEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                       const wchar_t* host, std::uint32_t loggerMode, CLoggingIf** logger,
                                       LoggingMechanismSource* mechanism)
{
    // Refused before anything is created, so a refused build leaves nothing behind.
    if (logger == nullptr || *logger != nullptr || IsGivenButEmpty(group) || IsGivenButEmpty(host)) {
        return false;
    }
    try {
        const LoggerFactory& create = ChoosesFileLogger(loggerMode, mechanism) ? m_createFileLogger : m_createEtwLogger;
        std::unique_ptr<CLoggingIf> created = create ? create() : nullptr;
        if (created == nullptr) {
            return false;
        }
        std::uint32_t result;
        if (auto* extended = dynamic_cast<CLoggingIf_ex*>(created.get())) {
            result = extended->InitializeEx(applicationName, group, module, host, nullptr);
        } else {
            result = created->Initialize(group, module, host, nullptr);
        }
        if (result != ERROR_SUCCESS) {
            return false;  // the refused logger is deleted here
        }
        (void)created->AddRef();
        *logger = created.release();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace ETWLogging
