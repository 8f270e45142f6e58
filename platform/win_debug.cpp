#include "win_debug.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace fp_platform {
namespace {

struct DebugState {
    std::mutex mutex;
    DebugSink sink;
    bool to_stderr = false;
};

DebugState& debug_state()
{
    static DebugState* state = [] {
        auto* created = new DebugState;  // outlives static destructors
        const char* env = std::getenv("FP_DEBUG_STDERR");
        created->to_stderr = env != nullptr && env[0] == '1';
        return created;
    }();
    return *state;
}

class WideWriter {
public:
    WideWriter(char16_t* buffer, size_t count) : buffer_(buffer), capacity_(count == 0 ? 0 : count - 1) {}

    void put(char16_t c)
    {
        if (length_ < capacity_) {
            buffer_[length_++] = c;
        }
    }
    void put_narrow(const char* text)
    {
        for (; *text != 0; ++text) {
            put(static_cast<unsigned char>(*text));
        }
    }
    size_t finish()
    {
        buffer_[length_] = 0;
        return length_;
    }

private:
    char16_t* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

// Pads a converted string field to its width.
void put_padded(WideWriter& out, const std::u16string& text, int width, bool left)
{
    const int pad = width > static_cast<int>(text.size()) ? width - static_cast<int>(text.size()) : 0;
    if (!left) {
        for (int i = 0; i < pad; ++i) {
            out.put(u' ');
        }
    }
    for (char16_t c : text) {
        out.put(c);
    }
    if (left) {
        for (int i = 0; i < pad; ++i) {
            out.put(u' ');
        }
    }
}

}  // namespace

DebugSink set_debug_sink(DebugSink sink)
{
    std::lock_guard<std::mutex> lock(debug_state().mutex);
    DebugSink old = std::move(debug_state().sink);
    debug_state().sink = std::move(sink);
    return old;
}

void set_debug_to_stderr(bool enabled)
{
    std::lock_guard<std::mutex> lock(debug_state().mutex);
    debug_state().to_stderr = enabled;
}

std::string narrow_text(std::u16string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80) {
            result.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (c >> 6)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xE0 | (c >> 12)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return result;
}

std::u16string wide_text(std::string_view text)
{
    std::u16string result;
    result.reserve(text.size());
    for (char c : text) {
        result.push_back(static_cast<unsigned char>(c));
    }
    return result;
}

size_t format_wide_v(char16_t* buffer, size_t count, PCWSTR format, va_list args)
{
    WideWriter out(buffer, count);
    if (buffer == nullptr || count == 0 || format == nullptr) {
        return 0;
    }
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out.put(*p);
            continue;
        }
        // Collect the conversion into a narrow printf format.
        std::string spec = "%";
        ++p;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
            spec.push_back(static_cast<char>(*p++));
        }
        while (*p >= u'0' && *p <= u'9') {
            spec.push_back(static_cast<char>(*p++));
        }
        if (*p == u'.') {
            spec.push_back(static_cast<char>(*p++));
            while (*p >= u'0' && *p <= u'9') {
                spec.push_back(static_cast<char>(*p++));
            }
        }
        int longs = 0;
        bool size_modifier = false;
        bool short_modifier = false;
        for (;; ++p) {
            if (*p == u'l') {
                ++longs;
            } else if (*p == u'z') {
                size_modifier = true;
            } else if (*p == u'h') {
                short_modifier = true;
            } else {
                break;
            }
        }
        const char16_t conversion = *p;
        if (conversion == 0) {
            break;
        }
        char field[128];
        field[0] = 0;
        switch (conversion) {
        case u'%':
            out.put(u'%');
            continue;
        case u'd':
        case u'i': {
            long long value = size_modifier ? static_cast<long long>(va_arg(args, ptrdiff_t))
                              : longs >= 2  ? va_arg(args, long long)
                              : longs == 1  ? va_arg(args, long)
                                            : va_arg(args, int);
            if (short_modifier) {
                value = static_cast<short>(value);
            }
            std::snprintf(field, sizeof field, (spec + "lld").c_str(), value);
            break;
        }
        case u'u':
        case u'x':
        case u'X': {
            unsigned long long value = size_modifier ? va_arg(args, size_t)
                                       : longs >= 2  ? va_arg(args, unsigned long long)
                                       : longs == 1  ? va_arg(args, unsigned long)
                                                     : va_arg(args, unsigned int);
            if (short_modifier) {
                value = static_cast<unsigned short>(value);
            }
            spec += "ll";
            spec.push_back(static_cast<char>(conversion));
            std::snprintf(field, sizeof field, spec.c_str(), value);
            break;
        }
        case u'p':
            std::snprintf(field, sizeof field, (spec + "p").c_str(), va_arg(args, void*));
            break;
        case u'c':
            out.put(static_cast<char16_t>(va_arg(args, int)));
            continue;
        case u's':
        case u'S': {
            std::u16string text;
            // %s and %ls are wide, %S and %hs narrow; an explicit h or l wins.
            const bool wide = short_modifier ? false : longs > 0 ? true : conversion == u's';
            if (wide) {
                const char16_t* wide = va_arg(args, const char16_t*);
                text = wide != nullptr ? std::u16string(wide) : u"(null)";
            } else {
                const char* narrow = va_arg(args, const char*);
                text = wide_text(narrow != nullptr ? narrow : "(null)");
            }
            const bool left = spec.find('-') != std::string::npos;
            // Width before the '.', at most `precision` characters after it.
            const size_t dot = spec.find('.');
            int width = 0;
            for (size_t i = 0; i < spec.size() && i < dot; ++i) {
                const char c = spec[i];
                if (c >= '1' && c <= '9' && width == 0) {
                    width = c - '0';
                } else if (c >= '0' && c <= '9' && width > 0) {
                    width = width * 10 + (c - '0');
                }
            }
            if (dot != std::string::npos) {
                const size_t precision = static_cast<size_t>(std::atoi(spec.c_str() + dot + 1));
                if (text.size() > precision) {
                    text.resize(precision);
                }
            }
            put_padded(out, text, width, left);
            continue;
        }
        default:
            out.put(u'%');
            out.put(conversion);
            continue;
        }
        out.put_narrow(field);
    }
    return out.finish();
}

size_t format_wide(char16_t* buffer, size_t count, PCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    const size_t written = format_wide_v(buffer, count, format, args);
    va_end(args);
    return written;
}

void debug_printf(PCWSTR format, ...)
{
    char16_t line[DEBUG_LINE_CHARS];
    va_list args;
    va_start(args, format);
    format_wide_v(line, DEBUG_LINE_CHARS, format, args);
    va_end(args);
    OutputDebugStringW(line);
}

}  // namespace fp_platform

void OutputDebugStringW(PCWSTR text)
{
    if (text == nullptr) {
        return;
    }
    const std::u16string_view line(text);
    fp_platform::DebugState& state = fp_platform::debug_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.sink) {
        state.sink(line);
    }
    if (state.to_stderr) {
        std::fprintf(stderr, "%s", fp_platform::narrow_text(line).c_str());
    }
}
