#include "standins/KvBrwsr2/HtmlPage.h"

#include "core/base/ScopedResource.h"

#include <algorithm>
#include <cwctype>

namespace KvBrwsr2 {
namespace {

std::wstring Lower(std::wstring text)
{
    for (wchar_t& character : text) character = static_cast<wchar_t>(std::towlower(character));
    return text;
}

std::wstring Decode(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        std::copy_n(bytes.data() + 2, text.size() * 2, reinterpret_cast<char*>(text.data()));
        return text;
    }
    std::size_t start = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    const int length = static_cast<int>(bytes.size() - start);
    if (length == 0) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, length, nullptr, 0);
    if (size <= 0) return {};
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, length, text.data(), size);
    return text;
}

// The few entities a page of the suite uses; an unknown one stays as written.
std::wstring DecodeEntities(const std::wstring& text)
{
    static const std::pair<const wchar_t*, wchar_t> kNamed[] = {
        {L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}, {L"nbsp", L' '}, {L"copy", 0xA9}};
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == L'&' ? text.find(L';', i) : std::wstring::npos;
        if (end == std::wstring::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::wstring name = text.substr(i + 1, end - i - 1);
        bool decoded = false;
        if (name.size() > 1 && name[0] == L'#') {
            const bool hex = name[1] == L'x' || name[1] == L'X';
            const std::wstring digits = name.substr(hex ? 2 : 1);
            wchar_t* stop = nullptr;
            const unsigned long code = std::wcstoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (!digits.empty() && stop != nullptr && *stop == L'\0' && code > 0 && code < 0x10000) {
                out += static_cast<wchar_t>(code);
                decoded = true;
            }
        } else {
            for (const auto& [entity, character] : kNamed) {
                if (name == entity) {
                    out += character;
                    decoded = true;
                    break;
                }
            }
        }
        if (decoded) {
            i = end;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::wstring CollapseSpaces(const std::wstring& text)
{
    std::wstring out;
    bool space = false;
    for (const wchar_t character : text) {
        if (std::iswspace(character)) {
            space = !out.empty();
            continue;
        }
        if (space) out += L' ';
        space = false;
        out += character;
    }
    return out;
}

bool IsBreakingTag(const std::wstring& name)
{
    static const wchar_t* const kTags[] = {L"br", L"p", L"div", L"h1", L"h2", L"h3", L"h4", L"h5", L"h6",
                                           L"li", L"tr", L"table", L"ul", L"ol", L"hr", L"body"};
    return std::any_of(std::begin(kTags), std::end(kTags), [&](const wchar_t* tag) { return name == tag; });
}

// Appends page text: runs of white space become one space, lines carry no edge spaces.
class TextBuilder {
public:
    void Append(const std::wstring& text)
    {
        for (const wchar_t character : text) {
            if (std::iswspace(character)) {
                m_space = true;
                continue;
            }
            if (m_space && !m_text.empty() && m_text.back() != L'\n') m_text += L' ';
            m_space = false;
            m_text += character;
        }
    }
    void Break()
    {
        m_space = false;
        if (!m_text.empty() && m_text.back() != L'\n') m_text += L'\n';
    }
    std::wstring Take()
    {
        while (!m_text.empty() && m_text.back() == L'\n') m_text.pop_back();
        return std::move(m_text);
    }

private:
    std::wstring m_text;
    bool m_space = false;
};

}  // namespace

bool SplitResourceUrl(const std::wstring& url, std::wstring& dllPath, std::wstring& resourceName)
{
    static const std::wstring kScheme = L"sarn://";
    if (url.size() < kScheme.size() || Lower(url.substr(0, kScheme.size())) != kScheme) return false;
    std::size_t start = kScheme.size();
    while (start < url.size() && (url[start] == L'/' || url[start] == L'\\')) ++start;
    const std::size_t separator = url.find(L"::", start);
    if (separator == std::wstring::npos || separator == start) return false;
    std::wstring resource = url.substr(separator + 2);
    resource = resource.substr(0, resource.find_first_of(L"?#"));
    if (resource.empty()) return false;
    dllPath = url.substr(start, separator - start);
    resourceName = resource;
    return true;
}

DWORD LoadHtmlResource(const std::wstring& dllPath, const std::wstring& resourceName, HtmlPage& page)
{
    Fundor::ScopedResource<Fundor::ModuleTraits> module(
        LoadLibraryExW(dllPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
    }
    HRSRC resource = FindResourceW(module.get(), resourceName.c_str(), MAKEINTRESOURCEW(23));
    if (resource == nullptr) return ERROR_RESOURCE_NAME_NOT_FOUND;
    const DWORD size = SizeofResource(module.get(), resource);
    HGLOBAL loaded = LoadResource(module.get(), resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return ERROR_RESOURCE_DATA_NOT_FOUND;
    page = ParseHtml(std::string(static_cast<const char*>(data), size));
    return ERROR_SUCCESS;
}

HtmlPage ParseHtml(const std::string& bytes)
{
    const std::wstring source = Decode(bytes);
    const std::wstring lowered = Lower(source);
    HtmlPage page;
    TextBuilder text;
    std::size_t position = 0;
    while (position < source.size()) {
        const std::size_t open = source.find(L'<', position);
        text.Append(DecodeEntities(source.substr(position, open == std::wstring::npos ? std::wstring::npos : open - position)));
        if (open == std::wstring::npos) break;

        if (lowered.compare(open, 4, L"<!--") == 0) {
            const std::size_t end = source.find(L"-->", open + 4);
            position = end == std::wstring::npos ? source.size() : end + 3;
            continue;
        }
        const std::size_t close = source.find(L'>', open);
        if (close == std::wstring::npos) break;
        std::size_t nameEnd = open + 1;
        while (nameEnd < close && !std::iswspace(lowered[nameEnd]) && lowered[nameEnd] != L'/') ++nameEnd;
        if (nameEnd == open + 1 && lowered[nameEnd] == L'/') {
            ++nameEnd;
            while (nameEnd < close && !std::iswspace(lowered[nameEnd])) ++nameEnd;
        }
        const std::wstring name = lowered.substr(open + 1, nameEnd - open - 1);
        position = close + 1;

        if (name == L"script" || name == L"style" || name == L"title") {
            const std::size_t end = lowered.find(L"</" + name, position);
            const std::wstring content = source.substr(position, end == std::wstring::npos ? std::wstring::npos : end - position);
            if (name == L"script") {
                const auto line = static_cast<unsigned long>(std::count(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(position), L'\n'));
                page.scripts.push_back({content, line});
            } else if (name == L"title") {
                page.title = CollapseSpaces(DecodeEntities(content));
            }
            if (end == std::wstring::npos) break;
            const std::size_t endClose = source.find(L'>', end);
            position = endClose == std::wstring::npos ? source.size() : endClose + 1;
            continue;
        }
        const std::wstring bare = !name.empty() && name[0] == L'/' ? name.substr(1) : name;
        if (IsBreakingTag(bare)) text.Break();
    }
    page.text = text.Take();
    return page;
}

}  // namespace KvBrwsr2
