#pragma once
// Window base: a class description (name, class styles), the window's styles as traits, a message
// map, and the binding of a window handle to its C++ object (kept in this process, never in the
// window, whose data other processes can rewrite).
//
// Usage:
//     class CMyWnd : public CKvWindowImpl<CMyWnd, CKvWinTraits<WS_POPUP, 0>> {
//     public:
//         KV_BEGIN_MSG_MAP(CMyWnd)
//             KV_MESSAGE_HANDLER(WM_CREATE, OnCreate)
//         KV_END_MSG_MAP()
//         LRESULT OnCreate(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled);
//     };
//
// Handlers are tried in map order; a handler leaves `handled` TRUE (preset) to give its return
// value as the message result, or sets it FALSE to pass the message on. Unhandled messages go to
// DefWindowProcW. Exceptions never leave the window procedure: one that reaches it is logged and
// the message counts as unhandled.

#include <windows.h>

#include <string>

template <DWORD Style, DWORD ExStyle>
struct CKvWinTraits {
    static constexpr DWORD GetWndStyle(DWORD style) { return style == 0 ? Style : style; }
    static constexpr DWORD GetWndExStyle(DWORD exStyle) { return exStyle == 0 ? ExStyle : exStyle; }
};

// The window class a window object registers before it creates its window.
struct KvWndClassInfo {
    std::wstring className;
    UINT classStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
};

// A window handle with the few calls the host makes on it.
class CKvWindow {
public:
    CKvWindow() = default;
    explicit CKvWindow(HWND window) : m_hWnd(window) {}
    [[nodiscard]] HWND Handle() const noexcept { return m_hWnd; }
    [[nodiscard]] bool IsWindow() const noexcept { return m_hWnd != nullptr && ::IsWindow(m_hWnd) != FALSE; }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }

protected:
    HWND m_hWnd = nullptr;
};

class CKvWindowImplBase : public CKvWindow {
public:
    CKvWindowImplBase() = default;
    // A window still alive is unhooked first: it keeps existing, but no message reaches this
    // object any more.
    virtual ~CKvWindowImplBase();
    CKvWindowImplBase(const CKvWindowImplBase&) = delete;
    CKvWindowImplBase& operator=(const CKvWindowImplBase&) = delete;

    // The message map. TRUE when handled, with result set. mapId 0 is the window's own map.
    virtual BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      DWORD mapId) = 0;
    // Called after the window's last message (WM_NCDESTROY), when the handle is already detached.
    virtual void OnFinalMessage(HWND window) {}

    KvWndClassInfo& GetWndClassInfo() noexcept { return m_classInfo; }

    // Registers the class description (an existing class of that name is reused) and creates
    // the window bound to this object. Null on failure (last error set); a class name of 256
    // characters or more is refused with ERROR_FILENAME_EXCED_RANGE before anything is registered.
    HWND CreateWindowWithClass(HWND parent, const RECT& rect, const wchar_t* title, DWORD style, DWORD exStyle,
                               HMENU menu, void* createParameter);
    BOOL DestroyWindow() { return m_hWnd != nullptr ? ::DestroyWindow(m_hWnd) : FALSE; }

protected:
    static LRESULT CALLBACK StartWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    KvWndClassInfo m_classInfo;

private:
    void Unhook() noexcept;
};

template <typename T, typename Traits>
class CKvWindowImpl : public CKvWindowImplBase {
public:
    HWND Create(HWND parent, const RECT& rect, const wchar_t* title, DWORD style = 0, DWORD exStyle = 0,
                HMENU menu = nullptr, void* createParameter = nullptr)
    {
        return CreateWindowWithClass(parent, rect, title, Traits::GetWndStyle(style), Traits::GetWndExStyle(exStyle),
                                     menu, createParameter);
    }
};

#define KV_BEGIN_MSG_MAP(Class)                                                                            \
    BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,    \
                              DWORD mapId) override                                                        \
    {                                                                                                      \
        (void)window;                                                                                      \
        BOOL handled = TRUE;                                                                               \
        if (mapId != 0) return FALSE;

#define KV_MESSAGE_HANDLER(msg, handler)                                                                   \
    if (message == (msg)) {                                                                                \
        handled = TRUE;                                                                                    \
        result = handler(message, wParam, lParam, handled);                                                \
        if (handled) return TRUE;                                                                          \
    }

#define KV_END_MSG_MAP()                                                                                   \
    return FALSE;                                                                                          \
    }
