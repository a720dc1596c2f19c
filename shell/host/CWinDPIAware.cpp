#include "shell/host/CWinDPIAware.h"

#include "core/Logging/Logging.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr wchar_t kSource[] = L"CWinDPIAware.cpp";
constexpr UINT kNoTaskbarAnswer = 9999;
constexpr int kNoTaskbarMargin = 60;

class SystemDisplay final : public IDisplayEnvironment {
public:
    int LogPixelsX() override
    {
        const HDC screen = ::GetDC(nullptr);
        if (screen == nullptr) return 0;
        const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
        ::ReleaseDC(nullptr, screen);
        return dpi;
    }
    bool DesktopClientRect(RECT* rect) override { return ::GetClientRect(::GetDesktopWindow(), rect) != FALSE; }
    void QueryTaskbar(APPBARDATA* data) override { ::SHAppBarMessage(ABM_GETTASKBARPOS, data); }
};

}  // namespace

IDisplayEnvironment& SystemDisplayEnvironment()
{
    static SystemDisplay display;
    return display;
}

bool GetDesktopWorkArea(IDisplayEnvironment& display, RECT* area)
{
    if (area == nullptr || !display.DesktopClientRect(area)) return false;
    APPBARDATA taskbar{};
    taskbar.cbSize = sizeof(taskbar);
    taskbar.uEdge = kNoTaskbarAnswer;
    display.QueryTaskbar(&taskbar);
    const LONG width = taskbar.rc.right - taskbar.rc.left;
    const LONG height = taskbar.rc.bottom - taskbar.rc.top;
    switch (taskbar.uEdge) {
    case ABE_LEFT:
        area->left += width;
        break;
    case ABE_TOP:
        area->top += height;
        break;
    case ABE_RIGHT:
        area->right -= width;
        break;
    case ABE_BOTTOM:
        area->bottom -= height;
        break;
    default:
        area->right -= kNoTaskbarMargin;
        area->bottom -= kNoTaskbarMargin;
        break;
    }
    return true;
}

CWinDPIAware::CWinDPIAware(IDisplayEnvironment* display) noexcept
    : m_display(display != nullptr ? display : &SystemDisplayEnvironment())
{
}

DWORD CWinDPIAware::SetDPIAwareSize(SIZE requested, DWORD style)
{
    if (requested.cx == 0 || requested.cy == 0) return ERROR_INVALID_PARAMETER;
    m_requested = requested;
    int dpi = m_display->LogPixelsX();
    if (dpi == 0) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CWinDPIAware::SetDPIAwareSize", L"GetDC fail, set dpi scale to 1");
        dpi = 96;
    }
    const double scale = dpi / 96.0;
    RECT work{};
    (void)GetDesktopWorkArea(*m_display, &work);
    const double screenWidth = std::abs(work.right - work.left);
    const double screenHeight = std::abs(work.bottom - work.top);
    RECT window{0, 0, requested.cx, requested.cy};
    ::AdjustWindowRect(&window, style, FALSE);
    const double windowWidth = std::abs(window.right - window.left);
    const double windowHeight = std::abs(window.bottom - window.top);
    const double rx = screenWidth / (windowWidth * scale);
    const double ry = screenHeight / (windowHeight * scale);
    const bool limitedByHeight = ry <= rx;
    const double r = limitedByHeight ? ry : rx;
    double factor = 100.0 * scale;
    if (r < 1.0) factor = limitedByHeight ? 100.0 * screenHeight / windowHeight : 100.0 * screenWidth / windowWidth;
    m_zoom = static_cast<unsigned>(static_cast<int>(std::floor(factor + 0.5)));
    m_scaled.cx = static_cast<LONG>(std::floor(factor * requested.cx / 100.0 + 0.5));
    m_scaled.cy = static_cast<LONG>(std::floor(factor * requested.cy / 100.0 + 0.5));
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CWinDPIAware::SetDPIAwareSize",
           L"DPI:%d Scale:%0.4f Screen size X:%d, Y:%d", dpi, scale, static_cast<int>(screenWidth),
           static_cast<int>(screenHeight));
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CWinDPIAware::SetDPIAwareSize",
           L"Window width:%d height:%d new width:%d height:%d zoom:%d", static_cast<int>(requested.cx),
           static_cast<int>(requested.cy), static_cast<int>(m_scaled.cx), static_cast<int>(m_scaled.cy),
           static_cast<int>(m_zoom));
    return ERROR_SUCCESS;
}

RECT CWinDPIAware::ScaledWindowRect(DWORD style) const
{
    RECT rect{0, 0, m_scaled.cx, m_scaled.cy};
    ::AdjustWindowRect(&rect, style, FALSE);
    return rect;
}

HRESULT CWinDPIAware::Zoom(IKvBrowserOperations* browser)
{
    if (browser == nullptr) return E_INVALIDARG;
    IWebBrowser2* web = nullptr;  // borrowed from the browser object
    HRESULT hr = browser->GetWebBrowser(&web);
    // Success without an object is no browser to zoom.
    if (SUCCEEDED(hr) && web == nullptr) hr = E_POINTER;
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CWinDPIAware::Zoom", L"GetWebBrowser fail: %#X", hr);
        return hr;
    }
    VARIANT zoom;
    ::VariantInit(&zoom);
    zoom.vt = VT_I4;
    zoom.lVal = static_cast<LONG>(m_zoom);
    hr = web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr);
    if (hr == OLECMDERR_E_NOTSUPPORTED) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"CWinDPIAware::Zoom", L"Browser zoom not ready yet");
        return E_PENDING;
    }
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CWinDPIAware::Zoom", L"Browser zoom fail: %#X", hr);
        return hr;
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CWinDPIAware::Zoom", L"Browser zoom OK: %d%%",
           static_cast<int>(m_zoom));
    return S_OK;
}

HRESULT CWinDPIAware::Resize(IKvBrowserOperations* browser)
{
    if (browser == nullptr) return E_INVALIDARG;
    const HRESULT hr = browser->FitToParent();
    if (FAILED(hr)) ETWLOG(ETWLogging::kLevelError, kSource, L"CWinDPIAware::Resize", L"Browser resize fail: %#X", hr);
    return hr;
}
