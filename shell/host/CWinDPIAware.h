#pragma once
// Turns the configured page size into a window size for the display: scaled by the display's DPI,
// shrunk to fit the work area, with the matching page zoom; applies the zoom and fits the browser.

#include "shell/host/KvBrowser2.h"

#include <windows.h>

// The display facts the sizing reads; the default asks the system.
class IDisplayEnvironment {
public:
    virtual ~IDisplayEnvironment() = default;
    // Logical pixels per inch of the screen; 0 when the screen's device context cannot be had.
    [[nodiscard]] virtual int LogPixelsX() = 0;
    [[nodiscard]] virtual bool DesktopClientRect(RECT* rect) = 0;
    // The shell's answer to ABM_GETTASKBARPOS; data->uEdge stays 9999 when there is none.
    virtual void QueryTaskbar(APPBARDATA* data) = 0;
};
[[nodiscard]] IDisplayEnvironment& SystemDisplayEnvironment();

// The desktop's client rectangle less the taskbar by its edge; no answer: 60 pixels off the right
// and the bottom. False when the desktop's rectangle cannot be read.
[[nodiscard]] bool GetDesktopWorkArea(IDisplayEnvironment& display, RECT* area);

class CWinDPIAware {
public:
    explicit CWinDPIAware(IDisplayEnvironment* display = nullptr) noexcept;
    virtual ~CWinDPIAware() = default;

    // ERROR_INVALID_PARAMETER for a zero dimension; else stores the request, computes scaled size
    // and zoom, and gives 0.
    [[nodiscard]] DWORD SetDPIAwareSize(SIZE requested, DWORD style);
    // {0, 0, scaled width, scaled height} adjusted for the style (no menu).
    [[nodiscard]] RECT ScaledWindowRect(DWORD style) const;
    // Applies the zoom: 0, E_PENDING while the browser is not ready, or the browser's failure.
    [[nodiscard]] HRESULT Zoom(IKvBrowserOperations* browser);
    // Fits the browser to its parent: E_INVALIDARG without a browser.
    [[nodiscard]] HRESULT Resize(IKvBrowserOperations* browser);

    [[nodiscard]] SIZE RequestedSize() const noexcept { return m_requested; }
    [[nodiscard]] SIZE ScaledSize() const noexcept { return m_scaled; }
    [[nodiscard]] unsigned ZoomPercent() const noexcept { return m_zoom; }
    [[nodiscard]] IDisplayEnvironment& Display() const noexcept { return *m_display; }

private:
    IDisplayEnvironment* m_display;
    SIZE m_requested{0, 0};
    SIZE m_scaled{0, 0};
    unsigned m_zoom = 100;
};
