#include "classlib/KvWindowImpl.h"

#include "core/Logging/Logging.h"

#include <exception>
#include <mutex>
#include <unordered_map>

namespace {

// The object whose window this thread is creating: the first message of the new window binds to it.
thread_local CKvWindowImplBase* t_creatingWindow = nullptr;

constexpr std::size_t kMaxClassNameCharacters = 255;
constexpr wchar_t kSource[] = L"KvWindowImpl.cpp";

// The window objects of this process by window. Nothing kept in the window itself (its user data,
// extra bytes or properties) can be trusted: any other process can rewrite it.
class WindowObjects {
public:
    [[nodiscard]] bool Bind(HWND window, CKvWindowImplBase* object) noexcept
    {
        try {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_objects[window] = object;
            return true;
        } catch (...) {
            return false;
        }
    }
    void Unbind(HWND window) noexcept
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_objects.erase(window);
    }
    [[nodiscard]] CKvWindowImplBase* Find(HWND window) noexcept
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_objects.find(window);
        return found != m_objects.end() ? found->second : nullptr;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HWND, CKvWindowImplBase*> m_objects;
};

WindowObjects& BoundWindows() noexcept
{
    // Never destroyed: a window object of static lifetime may still unhook itself at exit.
    // Without memory for this small table no window can be bound: ending the process is right.
    // NOLINTNEXTLINE(bugprone-unhandled-exception-at-new)
    static WindowObjects* const windows = new WindowObjects;
    return *windows;
}

}  // namespace

CKvWindowImplBase::~CKvWindowImplBase()
{
    Unhook();
}

void CKvWindowImplBase::Unhook() noexcept
{
    if (m_hWnd == nullptr) return;
    BoundWindows().Unbind(m_hWnd);
    if (::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
    }
    m_hWnd = nullptr;
}

HWND CKvWindowImplBase::CreateWindowWithClass(HWND parent, const RECT& rect, const wchar_t* title, DWORD style,
                                              DWORD exStyle, HMENU menu, void* createParameter)
{
    if (m_hWnd != nullptr) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    // Longer names fail to register on Windows and corrupt the window manager's heap under Wine.
    if (m_classInfo.className.empty() || m_classInfo.className.size() > kMaxClassNameCharacters) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW existing{sizeof(existing)};
    if (!::GetClassInfoExW(instance, m_classInfo.className.c_str(), &existing)) {
        WNDCLASSEXW description{sizeof(description)};
        description.style = m_classInfo.classStyle;
        description.lpfnWndProc = &CKvWindowImplBase::StartWindowProc;
        description.hInstance = instance;
        description.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        description.hbrBackground = m_classInfo.background;
        description.lpszClassName = m_classInfo.className.c_str();
        if (::RegisterClassExW(&description) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return nullptr;
        }
    }
    CKvWindowImplBase* const previous = t_creatingWindow;
    t_creatingWindow = this;
    const HWND window = ::CreateWindowExW(exStyle, m_classInfo.className.c_str(), title, style, rect.left, rect.top,
                                          rect.right - rect.left, rect.bottom - rect.top, parent, menu, instance,
                                          createParameter);
    const DWORD error = ::GetLastError();
    t_creatingWindow = previous;
    if (window == nullptr) {
        m_hWnd = nullptr;
        ::SetLastError(error == 0 ? ERROR_CANNOT_MAKE : error);
        return nullptr;
    }
    if (m_hWnd != window) {
        // It could not be bound to this object: a window that reaches nothing is no window.
        ::DestroyWindow(window);
        m_hWnd = nullptr;
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return window;
}

LRESULT CALLBACK CKvWindowImplBase::StartWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CKvWindowImplBase* const self = t_creatingWindow;
    if (self == nullptr) {
        // A window of a class registered by a window object but created outside it.
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    t_creatingWindow = nullptr;
    if (!BoundWindows().Bind(window, self)) return ::DefWindowProcW(window, message, wParam, lParam);
    self->m_hWnd = window;
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CKvWindowImplBase::WindowProc));
    return WindowProc(window, message, wParam, lParam);
}

LRESULT CALLBACK CKvWindowImplBase::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CKvWindowImplBase* const self = BoundWindows().Find(window);
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    BOOL handled = FALSE;
    try {
        handled = self->ProcessWindowMessage(window, message, wParam, lParam, result, 0);
    } catch (const std::exception& error) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CKvWindowImplBase::WindowProc", L"Message 0x%x failed: %hs", message,
               error.what());
        handled = FALSE;
    } catch (...) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CKvWindowImplBase::WindowProc", L"Message 0x%x failed", message);
        handled = FALSE;
    }
    if (!handled) result = ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        BoundWindows().Unbind(window);
        self->m_hWnd = nullptr;
        try {
            self->OnFinalMessage(window);
        } catch (const std::exception& error) {
            ETWLOG(ETWLogging::kLevelError, kSource, L"CKvWindowImplBase::WindowProc", L"The final message failed: %hs",
                   error.what());
        } catch (...) {
            ETWLOG(ETWLogging::kLevelError, kSource, L"CKvWindowImplBase::WindowProc", L"The final message failed");
        }
    }
    return result;
}
