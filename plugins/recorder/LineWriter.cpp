#include "plugins/recorder/LineWriter.h"

#include <cmath>

namespace Recorder {

LineWriter& LineWriter::ch(char c)
{
    if (len + 1 < cap)
        buf[len++] = c;
    else
        cut = true;
    terminate();
    return *this;
}

LineWriter& LineWriter::text(const char* s)
{
    if (!s)
        return text("(null)");
    while (*s)
        ch(*s++);
    return *this;
}

LineWriter& LineWriter::escaped(const char* s)
{
    if (!s)
        return text("(null)");
    for (; *s; ++s) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c <= 0x20 || c == '%' || c == 0x7F)
            ch('%').ch("0123456789ABCDEF"[c >> 4]).ch("0123456789ABCDEF"[c & 15]);
        else
            ch(*s);
    }
    return *this;
}

LineWriter& LineWriter::integer(int64_t v)
{
    char digits[24];
    int n = 0;
    // Work on the magnitude as unsigned so INT64_MIN does not overflow.
    uint64_t m = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    do {
        digits[n++] = char('0' + m % 10);
        m /= 10;
    } while (m);
    if (v < 0)
        ch('-');
    while (n)
        ch(digits[--n]);
    return *this;
}

LineWriter& LineWriter::hex(uint64_t v)
{
    char digits[16];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v);
    text("0x");
    while (n)
        ch(digits[--n]);
    return *this;
}

LineWriter& LineWriter::number(double v)
{
    if (std::isnan(v))
        return text("nan");
    if (std::isinf(v))
        return text(v < 0 ? "-inf" : "inf");
    constexpr double kScale = 1e6;
    // Beyond this the scaled value no longer fits an int64; such magnitudes never occur
    // in what the recorder logs, so they are marked rather than printed imprecisely.
    if (std::fabs(v) >= 9e12)
        return text(v < 0 ? "-big" : "big");
    const int64_t scaled = std::llround(std::fabs(v) * kScale);
    const int64_t whole = scaled / int64_t(kScale);
    int64_t frac = scaled % int64_t(kScale);
    if (v < 0 && scaled != 0)
        ch('-');
    integer(whole);
    if (frac) {
        char digits[6];
        for (int i = 5; i >= 0; --i) {
            digits[i] = char('0' + frac % 10);
            frac /= 10;
        }
        int last = 5;
        while (digits[last] == '0')
            --last;
        ch('.');
        for (int i = 0; i <= last; ++i)
            ch(digits[i]);
    }
    return *this;
}

} // namespace Recorder
