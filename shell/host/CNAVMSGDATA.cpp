#include "shell/host/CNAVMSGDATA.h"

#include <new>

CNAVMSGDATA::CNAVMSGDATA(const wchar_t* url) noexcept : m_url(url != nullptr ? ::SysAllocString(url) : nullptr) {}

CNAVMSGDATA::~CNAVMSGDATA() = default;

bool CNAVMSGDATA::CreateDoneEvent() noexcept
{
    m_doneEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return m_doneEvent.valid();
}

void CNAVMSGDATA::SignalDone() noexcept
{
    if (m_doneEvent) ::SetEvent(m_doneEvent.get());
}

CNAVMSGDATA* CreateNavMsgData(const wchar_t* url) noexcept
{
    if (url == nullptr) return nullptr;
    auto* record = new (std::nothrow) CNAVMSGDATA(url);
    if (record == nullptr) return nullptr;
    // The copy failed: a record without its URL is no request.
    if (record->Url() == nullptr || !record->CreateDoneEvent()) {
        delete record;
        return nullptr;
    }
    record->AddRef();
    return record;
}
