// Fixed-capacity text builder for the recorder's log lines. It never allocates and
// never calls into the C library's formatting (whose locale handling may lock), so
// the audio thread can format its own records.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Recorder {

class LineWriter
{
public:
    LineWriter(char* buffer, size_t capacity) : buf(buffer), cap(capacity) { terminate(); }

    LineWriter& text(const char* s);
    LineWriter& ch(char c);
    LineWriter& integer(int64_t v);
    LineWriter& hex(uint64_t v); // 0x prefix, lower case, no padding
    // Shortest of up to six decimals, trailing zeros dropped ("48000", "0.5", "0.503937");
    // "nan", "inf", "-inf" for the non-finite values.
    LineWriter& number(double v);
    // Text with space, '%', control characters and DEL written as %XX, so a value never
    // splits a line into more fields; UTF-8 passes through unchanged.
    LineWriter& escaped(const char* s);
    // key=value pairs, preceded by a space; kv escapes its value.
    LineWriter& kv(const char* key, const char* value) { return ch(' ').text(key).ch('=').escaped(value); }
    LineWriter& kvInt(const char* key, int64_t v) { return ch(' ').text(key).ch('=').integer(v); }
    LineWriter& kvNum(const char* key, double v) { return ch(' ').text(key).ch('=').number(v); }

    const char* data() const { return buf; }
    size_t size() const { return len; }
    // Set once something did not fit; the text is cut at the capacity, never overrun.
    bool truncated() const { return cut; }
    size_t remaining() const { return cap > len + 1 ? cap - len - 1 : 0; }

private:
    void terminate()
    {
        if (cap > 0)
            buf[len < cap ? len : cap - 1] = 0;
    }

    char* buf;
    size_t cap;
    size_t len{0};
    bool cut{false};
};

} // namespace Recorder
