#include "string/string.h"

#include "platform/platform.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>

std::atomic<int32_t> String::s_iLive{0};

namespace {

// Printing limits of String::printf: first try and last doubled size.
const int32_t kPrintfStart = 100;
const int32_t kPrintfLimit = 51200;

[[noreturn]] void outOfMemory(const char* what, int64_t requested)
{
    const int shown = requested > INT32_MAX ? INT32_MAX : static_cast<int>(requested);
    std::fprintf(stderr, "%s (%d): Out of memory\n", what, shown);
    std::abort();
}

bool isBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

int legacyVsnprintf(char* buffer, int32_t size, const char* format, va_list args)
{
    if (format == nullptr)
        return -1;
    if (size < 0)
        size = 0;
    va_list copy;
    va_copy(copy, args);
    const int r = std::vsnprintf(size > 0 ? buffer : nullptr, static_cast<size_t>(size), format, copy);
    va_end(copy);
    if (r < 0 || r > size)
        return -1;
    return r; // r == size: the text fitted only without its NUL
}

int legacySnprintf(char* buffer, int32_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int r = legacyVsnprintf(buffer, size, format, args);
    va_end(args);
    return r;
}

int streamPrintf(FILE* stream, const char* format, ...)
{
    if (stream == nullptr || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    const int r = std::vfprintf(stream, format, args);
    va_end(args);
    return r;
}

// ---------------------------------------------------------------------------
// Construction, assignment

String::String() : m_iCapacity(0), m_iSize(0), m_pData(nullptr)
{
    ++s_iLive;
}

String::String(const char* text) : String()
{
    if (text != nullptr) {
        const size_t len = std::strlen(text);
        allocateExact(static_cast<int64_t>(len) + 1);
        std::memcpy(m_pData, text, len + 1);
        m_iSize = m_iCapacity;
    }
}

String::String(const char* bytes, int32_t count) : String()
{
    if (bytes != nullptr && count >= 0) {
        allocateExact(static_cast<int64_t>(count) + 1);
        std::memcpy(m_pData, bytes, static_cast<size_t>(count));
        m_pData[count] = '\0';
        m_iSize = m_iCapacity;
    }
}

String::String(int32_t n) : String()
{
    if (n >= 1) {
        allocateExact(n);
        std::memset(m_pData, 0, static_cast<size_t>(n));
        m_iSize = n;
    }
}

String::String(const String& other) : String()
{
    if (other.m_iSize >= 1 && other.m_pData != nullptr) {
        allocateExact(other.m_iSize);
        std::memcpy(m_pData, other.m_pData, static_cast<size_t>(other.m_iSize));
        m_iSize = other.m_iSize;
    }
}

String::String(String&& other) noexcept : m_iCapacity(other.m_iCapacity), m_iSize(other.m_iSize), m_pData(other.m_pData)
{
    ++s_iLive;
    other.m_pData = nullptr;
    other.m_iCapacity = 0;
    other.m_iSize = 0;
}

String::~String()
{
    std::free(m_pData);
    --s_iLive;
}

String& String::operator=(const String& other)
{
    if (&other == this)
        return *this;
    if (other.m_iSize <= 0 || other.m_pData == nullptr) {
        makeNull();
        return *this;
    }
    grow(other.m_iSize);
    std::memcpy(m_pData, other.m_pData, static_cast<size_t>(other.m_iSize));
    m_iSize = other.m_iSize;
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    if (&other != this) {
        std::free(m_pData);
        m_pData = other.m_pData;
        m_iCapacity = other.m_iCapacity;
        m_iSize = other.m_iSize;
        other.m_pData = nullptr;
        other.m_iCapacity = 0;
        other.m_iSize = 0;
    }
    return *this;
}

String& String::operator=(const char* text)
{
    if (text != nullptr && text == m_pData)
        return *this;
    if (text == nullptr) {
        makeNull();
        return *this;
    }
    const size_t len = std::strlen(text);
    if (len > static_cast<size_t>(INT32_MAX) - 1)
        outOfMemory("String reallocation", static_cast<int64_t>(len) + 1);
    return assign(text, static_cast<int32_t>(len));
}

String& String::operator=(char c)
{
    return assign(&c, 1);
}

String& String::assign(const char* bytes, int32_t count)
{
    if (count < 0 || bytes == nullptr) {
        makeNull();
        return *this;
    }
    placeBytes(0, bytes, count, static_cast<int64_t>(count) + 1);
    m_pData[count] = '\0';
    m_iSize = count + 1;
    return *this;
}

void String::placeBytes(int32_t at, const char* bytes, int32_t count, int64_t needed)
{
    const uintptr_t src = reinterpret_cast<uintptr_t>(bytes);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(m_pData);
    if (m_pData != nullptr && src >= begin && src < begin + static_cast<uintptr_t>(m_iCapacity)) {
        // A part of our own buffer: it must lie inside the allocation, and it
        // is found by its offset after growing (growing may move the buffer).
        const int64_t offset = static_cast<int64_t>(src - begin);
        if (offset + count > m_iCapacity) {
            std::fputs("String out of range\n", stderr);
            std::abort();
        }
        grow(needed);
        std::memmove(m_pData + at, m_pData + offset, static_cast<size_t>(count));
    } else {
        grow(needed);
        std::memcpy(m_pData + at, bytes, static_cast<size_t>(count));
    }
}

void String::makeNull()
{
    std::free(m_pData);
    m_pData = nullptr;
    m_iCapacity = 0;
    m_iSize = 0;
}

// ---------------------------------------------------------------------------
// Memory

void String::allocateExact(int64_t n)
{
    if (n > INT32_MAX)
        outOfMemory("String allocation", n);
    m_pData = static_cast<char*>(std::malloc(static_cast<size_t>(n)));
    if (m_pData == nullptr)
        outOfMemory("String allocation", n);
    m_iCapacity = static_cast<int32_t>(n);
}

void String::grow(int64_t needed)
{
    if (needed <= m_iCapacity)
        return;
    if (needed > INT32_MAX)
        outOfMemory("String reallocation", needed);
    char* p = static_cast<char*>(std::realloc(m_pData, static_cast<size_t>(needed)));
    if (p == nullptr)
        outOfMemory("String reallocation", needed);
    // New bytes start as zeros so that no byte of the buffer is ever undefined.
    std::memset(p + m_iCapacity, 0, static_cast<size_t>(needed - m_iCapacity));
    m_pData = p;
    m_iCapacity = static_cast<int32_t>(needed);
}

int32_t String::length() const
{
    if (m_pData == nullptr)
        return 0;
    if (m_iSize > 0 && m_pData[m_iSize - 1] == '\0')
        return m_iSize - 1;
    const void* nul = std::memchr(m_pData, 0, static_cast<size_t>(m_iCapacity));
    return nul ? static_cast<int32_t>(static_cast<const char*>(nul) - m_pData) : m_iCapacity;
}

void String::resize(int32_t n)
{
    if (n <= 0) {
        if (m_pData != nullptr)
            m_iSize = 0;
        return;
    }
    grow(n);
    m_iSize = n;
}

void String::check() const
{
    if (m_pData == nullptr || m_iSize <= 0)
        return;
    if (length() >= m_iSize) {
        std::fputs("Internal: string exceeds allocated memory\n", stderr);
        std::abort();
    }
}

// ---------------------------------------------------------------------------
// Appending

String& String::append(const String& other)
{
    if (other.m_pData == nullptr || other.length() == 0)
        return *this;
    if (&other == this)
        return append(m_pData, length());
    if (m_pData == nullptr)
        return *this = other;
    return append(other.m_pData, other.length());
}

String& String::append(const char* text)
{
    if (text == nullptr)
        return *this;
    const size_t len = std::strlen(text);
    if (len > static_cast<size_t>(INT32_MAX))
        outOfMemory("String reallocation", static_cast<int64_t>(len));
    return append(text, static_cast<int32_t>(len));
}

String& String::append(const char* bytes, int32_t count)
{
    if (bytes == nullptr || count <= 0)
        return *this;
    const int32_t len = length();
    const int64_t needed = static_cast<int64_t>(len) + count + 1;
    placeBytes(len, bytes, count, needed);
    m_pData[len + count] = '\0';
    m_iSize = static_cast<int32_t>(needed);
    return *this;
}

String& String::append(char c)
{
    return append(&c, 1);
}

String& String::append(int32_t value)
{
    char buf[16];
    const int n = std::snprintf(buf, sizeof(buf), "%d", value);
    return append(buf, n);
}

// ---------------------------------------------------------------------------
// Text operations

int String::compareNoCase(const char* text) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text ? text : "");
    for (;; ++a, ++b) {
        unsigned ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z')
            ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z')
            cb += 'a' - 'A';
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

String& String::fit(int32_t width, char fill)
{
    if (width < 0)
        width = 0;
    const int32_t keep = length() < width ? length() : width;
    grow(static_cast<int64_t>(width) + 1);
    if (width > keep)
        std::memset(m_pData + keep, static_cast<unsigned char>(fill), static_cast<size_t>(width - keep));
    m_pData[width] = '\0';
    m_iSize = width + 1;
    return *this;
}

String& String::number(int32_t value, int32_t width)
{
    char buf[128];
    const int n = std::snprintf(buf, sizeof(buf), "%0*d", 100, value);
    if (width < 0)
        width = 0;
    const int keep = width < n ? width : n;
    return assign(buf + (n - keep), keep);
}

bool String::printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = vprintf(format, args);
    va_end(args);
    return ok;
}

bool String::vprintf(const char* format, va_list args)
{
    int32_t size = kPrintfStart;
    grow(size);
    if (format == nullptr) {
        m_pData[0] = '\0';
        m_iSize = 1;
        return false;
    }
    for (;;) {
        grow(size);
        m_iSize = size;
        // Every try prints from a fresh copy of the argument list.
        va_list copy;
        va_copy(copy, args);
        const int r = legacyVsnprintf(m_pData, size, format, copy);
        va_end(copy);
        if (r >= 0 && r < size) {
            m_iSize = r + 1;
            return true;
        }
        if (r < 0) {
            if (size >= kPrintfLimit)
                break;
            size *= 2;
        } else {
            size = r + 1; // exact fit without the NUL: one byte more
        }
    }
    // Too long: keep the part that fitted as a valid text.
    m_iSize = static_cast<int32_t>(std::strlen(m_pData)) + 1;
    return false;
}

bool String::currentDirectory()
{
    const std::string dir = Platform::currentDir();
    if (dir.empty()) {
        makeNull();
        return false;
    }
    assign(dir.data(), static_cast<int32_t>(dir.size()));
    return true;
}

String& String::replaceFirst(const char* source, const char* needle, const char* replacement)
{
    if (source == nullptr) {
        makeNull();
        return *this;
    }
    std::string text(source);
    if (needle != nullptr && *needle != '\0') {
        const size_t pos = text.find(needle);
        if (pos != std::string::npos)
            text.replace(pos, std::strlen(needle), replacement ? replacement : "");
    }
    return assign(text.data(), static_cast<int32_t>(text.size()));
}

String& String::replaceAll(const char* needle, const char* replacement)
{
    if (m_pData == nullptr || needle == nullptr || *needle == '\0')
        return *this;
    const std::string_view text(m_pData, static_cast<size_t>(length()));
    const std::string_view what(needle);
    const char* with = replacement ? replacement : "";
    std::string out;
    size_t from = 0;
    bool any = false;
    for (;;) {
        const size_t pos = text.find(what, from);
        if (pos == std::string_view::npos)
            break;
        out.append(text.substr(from, pos - from));
        out.append(with);
        from = pos + what.size();
        any = true;
    }
    if (!any)
        return *this;
    out.append(text.substr(from));
    return assign(out.data(), static_cast<int32_t>(out.size()));
}

String& String::trim()
{
    if (m_pData == nullptr)
        return *this;
    int32_t end = length();
    int32_t begin = 0;
    while (begin < end && isBlankOrTab(m_pData[begin]))
        ++begin;
    while (end > begin && isBlankOrTab(m_pData[end - 1]))
        --end;
    if (begin > 0)
        std::memmove(m_pData, m_pData + begin, static_cast<size_t>(end - begin));
    m_pData[end - begin] = '\0';
    m_iSize = end - begin + 1;
    return *this;
}

bool String::readFile(const char* path, bool textMode, int64_t* modified)
{
    if (modified != nullptr)
        *modified = 0;
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        st.st_size > static_cast<off_t>(INT32_MAX) - 1) {
        makeNull();
        return false;
    }
    // Read in binary and drop CRs before LFs ourselves, so the text mode
    // behaves the same on every platform.
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        makeNull();
        return false;
    }
    const int32_t fileSize = static_cast<int32_t>(st.st_size);
    grow(static_cast<int64_t>(fileSize) + 1);
    const size_t count = fileSize > 0 ? std::fread(m_pData, 1, static_cast<size_t>(fileSize), f) : 0;
    std::fclose(f);
    const bool ok = textMode ? (fileSize == 0 || count >= 1) : count == static_cast<size_t>(fileSize);
    if (!ok) {
        makeNull();
        return false;
    }
    size_t used = count;
    if (textMode) {
        size_t out = 0;
        for (size_t in = 0; in < count; ++in) {
            if (m_pData[in] == '\r' && in + 1 < count && m_pData[in + 1] == '\n')
                continue;
            m_pData[out++] = m_pData[in];
        }
        used = out;
    }
    m_pData[used] = '\0';
    m_iSize = static_cast<int32_t>(used) + 1;
    if (modified != nullptr)
        *modified = static_cast<int64_t>(st.st_mtime);
    return true;
}
