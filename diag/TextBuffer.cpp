#include "diag/TextBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace PomaroApp {

namespace {
constexpr std::uint64_t kFirstBlock = 1024;
constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();
} // namespace

std::size_t textBlockBytes(std::uint64_t count, std::size_t width) noexcept
{
    constexpr std::size_t kMaxBytes = std::numeric_limits<std::size_t>::max();
    if (width != 0 && count > kMaxBytes / width)
        return kMaxBytes;
    return static_cast<std::size_t>(count) * width;
}

template <typename CharT> std::uint64_t BasicTextBuffer<CharT>::LengthOf(const CharT* text) noexcept
{
    if (!text)
        return 0;
    std::uint64_t n = 0;
    while (text[n] != CharT(0))
        ++n;
    return n;
}

template <typename CharT> std::uint64_t BasicTextBuffer<CharT>::Length() const noexcept
{
    return LengthOf(text_);
}

template <typename CharT> bool BasicTextBuffer<CharT>::Contains(const CharT* p) const noexcept
{
    const auto a = reinterpret_cast<std::uintptr_t>(p);
    const auto begin = reinterpret_cast<std::uintptr_t>(text_);
    return text_ && a >= begin && a < begin + block_ * sizeof(CharT);
}

template <typename CharT> bool BasicTextBuffer<CharT>::Reserve(std::uint64_t n) noexcept
{
    if (n <= capacity_)
        return true;
    std::uint64_t size = capacity_ ? capacity_ : kFirstBlock;
    while (size < n)
        size = size > kMaxCount / 2 ? n : size * 2;

    auto* block = static_cast<CharT*>(std::malloc(textBlockBytes(size, sizeof(CharT))));
    if (!block)
        return false;
    // The old text ends at its terminator, but never past the room it had: a conversion
    // that ran out of room leaves the buffer full and unterminated.
    std::uint64_t kept = 0;
    while (kept < capacity_ && text_[kept] != CharT(0))
        ++kept;
    if (kept == capacity_ && kept > 0)
        --kept;
    if (kept > 0)
        std::memcpy(block, text_, textBlockBytes(kept, sizeof(CharT)));
    block[kept] = CharT(0);
    std::free(text_);
    text_ = block;
    block_ = size;
    capacity_ = n;
    return true;
}

template <typename CharT> bool BasicTextBuffer<CharT>::Append(const CharT* text) noexcept
{
    if (!text)
        return true;
    const std::uint64_t length = Length();
    const std::uint64_t added = LengthOf(text);
    if (added > kMaxCount - length - 1)
        return false;
    // Appending a piece of our own text must survive the block moving.
    const bool own = Contains(text);
    const std::uint64_t offset = own ? static_cast<std::uint64_t>(text - text_) : 0;
    if (!Reserve(length + added + 1))
        return false;
    if (own)
        text = text_ + offset;
    std::memmove(text_ + length, text, textBlockBytes(added, sizeof(CharT)));
    text_[length + added] = CharT(0);
    return true;
}

template <typename CharT> bool BasicTextBuffer<CharT>::AppendRepeated(CharT ch, std::uint64_t count) noexcept
{
    const std::uint64_t length = Length();
    if (count > kMaxCount - length - 1 || !Reserve(length + count + 1))
        return false;
    for (std::uint64_t i = 0; i < count; ++i)
        text_[length + i] = ch;
    text_[length + count] = CharT(0);
    return true;
}

template <typename CharT> bool BasicTextBuffer<CharT>::Assign(const CharT* text) noexcept
{
    if (!text) {
        Clear();
        return true;
    }
    const std::uint64_t length = LengthOf(text);
    if (length + 1 > capacity_) {
        // Text longer than our capacity cannot lie inside our own text.
        auto* block = static_cast<CharT*>(std::malloc(textBlockBytes(length + 1, sizeof(CharT))));
        if (!block)
            return false;
        std::free(text_);
        text_ = block;
        block_ = capacity_ = length + 1;
    }
    std::memmove(text_, text, textBlockBytes(length + 1, sizeof(CharT)));
    return true;
}

template <typename CharT> void BasicTextBuffer<CharT>::Clear() noexcept
{
    if (text_)
        text_[0] = CharT(0);
}

template <typename CharT> void BasicTextBuffer<CharT>::Free() noexcept
{
    std::free(text_);
    text_ = nullptr;
    capacity_ = block_ = 0;
}

template class BasicTextBuffer<char>;
template class BasicTextBuffer<wchar_t>;

} // namespace PomaroApp
