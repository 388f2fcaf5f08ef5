#pragma once
// String: the support library's byte string.
//
// A heap buffer holding a NUL-terminated text that knows its allocated
// capacity and its used size (including the terminating NUL). A null string
// has no buffer at all (capacity = size = 0); an empty string has a buffer
// holding only the NUL. Every operation grows the buffer to exactly the size it
// needs (only printf grows by doubling); the capacity never shrinks unless the
// string is made null. When memory runs out the process is ended with a
// message on standard error.

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#if defined(__GNUC__) || defined(__clang__)
#define VEX_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define VEX_PRINTF_FORMAT(fmt, first)
#endif

// Bounded print with the legacy convention: returns the length of the text
// when it fits with its NUL, the size itself when the text is exactly `size`
// characters long (no room for the NUL), and -1 when it is longer. Unlike the
// legacy routine the buffer is always NUL-terminated when size > 0 (so on an
// exact fit or an overflow it holds the first size - 1 characters). The
// argument list is copied before use, so the caller may pass the same list
// again.
int legacyVsnprintf(char* buffer, int32_t size, const char* format, va_list args);
int legacySnprintf(char* buffer, int32_t size, const char* format, ...) VEX_PRINTF_FORMAT(3, 4);

// Formatted print to a stream; returns what vfprintf returns.
int streamPrintf(FILE* stream, const char* format, ...) VEX_PRINTF_FORMAT(2, 3);

class String {
public:
    String();
    String(const char* text);                 // null text gives a null string
    String(const char* bytes, int32_t count); // count bytes and a NUL; negative gives null
    explicit String(int32_t n);               // buffer of n zero bytes, size = capacity = n
    String(const String& other);
    String(String&& other) noexcept;
    ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);
    String& operator=(char c);
    // count bytes and a NUL; bytes may lie inside this string's own buffer.
    String& assign(const char* bytes, int32_t count);

    char* data() { return m_pData; }
    const char* data() const { return m_pData; }
    // The text, or "" for a null string (never null).
    const char* c_str() const { return m_pData ? m_pData : ""; }
    int32_t size() const { return m_iSize; }
    int32_t capacity() const { return m_iCapacity; }
    int32_t length() const;
    bool isNull() const { return m_pData == nullptr; }
    bool isEmpty() const { return length() == 0; }
    // Frees the buffer: the string becomes null.
    void makeNull();

    // Grows the capacity to n when needed and sets the size to n (no NUL written).
    void resize(int32_t n);

    String& append(const String& other);
    String& append(const char* text);
    String& append(const char* bytes, int32_t count);
    String& append(char c);
    String& append(int32_t value);

    // Byte-wise comparison where ASCII capitals compare as small letters;
    // -1, 0 or 1. A null string or text compares as empty.
    int compareNoCase(const char* text) const;
    int compareNoCase(const String& other) const { return compareNoCase(other.c_str()); }

    // Keeps the first min(length, width) characters and fills with `fill`
    // up to exactly width characters.
    String& fit(int32_t width, char fill);
    // Becomes value printed with "%0*d" at width 100, of which only the last
    // width characters remain (7 at width 3 gives "007", 12345 gives "345").
    String& number(int32_t value, int32_t width);

    // Formats into this string. False when the text does not fit in 51 200
    // bytes; the string then holds the text cut to what fitted (still a valid,
    // NUL-terminated text).
    bool printf(const char* format, ...) VEX_PRINTF_FORMAT(2, 3);
    bool vprintf(const char* format, va_list args);

    // Becomes the process's working directory; false (and null) on failure.
    bool currentDirectory();

    // Becomes source with the first occurrence of needle replaced by
    // replacement (null counts as empty); without needle or occurrence a copy
    // of source. source may be this string's own text.
    String& replaceFirst(const char* source, const char* needle, const char* replacement);
    // Replaces every occurrence, scanning on after each inserted replacement.
    String& replaceAll(const char* needle, const char* replacement);
    // Removes blanks and tabs at both ends.
    String& trim();

    // Reads a whole regular file. In text mode a CR before a LF is dropped.
    // modified (when given) receives the modification time in seconds since
    // 1970. Any failure makes the string null, sets *modified to 0 and gives
    // false; an empty file gives an empty text.
    bool readFile(const char* path, bool textMode, int64_t* modified);

    // Ends the process when the text runs past the used size.
    void check() const;

    // Live strings of the process (diagnostics).
    static int32_t liveCount() { return s_iLive.load(); }

private:
    void grow(int64_t needed);
    void allocateExact(int64_t n);
    // Grows the buffer to needed bytes and copies count bytes to position
    // at; the bytes may be a part of this string's own buffer.
    void placeBytes(int32_t at, const char* bytes, int32_t count, int64_t needed);

    int32_t m_iCapacity;
    int32_t m_iSize;
    char* m_pData;

    static std::atomic<int32_t> s_iLive;
};
