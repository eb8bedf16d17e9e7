#pragma once
// Growable NUL-terminated text for lines of any length. The length is never stored:
// it is always found by scanning for the terminator.
#include <cstddef>
#include <cstdint>

namespace PomaroApp {

template <typename CharT> class BasicTextBuffer
{
public:
    constexpr BasicTextBuffer() noexcept = default;
    explicit BasicTextBuffer(std::uint64_t initialCapacity) noexcept { Reserve(initialCapacity); }
    ~BasicTextBuffer() { Free(); }
    BasicTextBuffer(const BasicTextBuffer&) = delete;
    BasicTextBuffer& operator=(const BasicTextBuffer&) = delete;

    // Makes room for n characters (terminator included). The block grows by doubling
    // from the old capacity (1024 when empty) until it holds n, but the capacity
    // recorded is n itself, so the next larger request reallocates again. The text is
    // kept up to its terminator but never beyond the old capacity.
    // False when the allocation fails; the old text is then untouched.
    bool Reserve(std::uint64_t n) noexcept;
    bool Append(const CharT* text) noexcept;
    bool AppendRepeated(CharT ch, std::uint64_t count) noexcept;
    // A null text empties the buffer; a text that does not fit replaces the block by
    // one of exactly its size.
    bool Assign(const CharT* text) noexcept;
    void Clear() noexcept;
    void Free() noexcept;

    const CharT* Text() const noexcept { return text_; }
    CharT* Data() noexcept { return text_; }
    std::uint64_t Capacity() const noexcept { return capacity_; }
    std::uint64_t BlockSize() const noexcept { return block_; }
    std::uint64_t Length() const noexcept;

    static std::uint64_t LengthOf(const CharT* text) noexcept;

private:
    bool Contains(const CharT* p) const noexcept;

    CharT* text_ = nullptr;
    std::uint64_t capacity_ = 0;
    std::uint64_t block_ = 0;
};

extern template class BasicTextBuffer<char>;
extern template class BasicTextBuffer<wchar_t>;

using ByteTextBuffer = BasicTextBuffer<char>;

class TextBuffer : public BasicTextBuffer<wchar_t>
{
public:
    using BasicTextBuffer<wchar_t>::BasicTextBuffer;
#ifdef _WIN32
    // Converts text of the ANSI code page; on failure the buffer is left empty.
    bool AssignFromAnsi(const char* bytes) noexcept;
#endif
};

// Size in bytes of a block of `count` characters of `width` bytes; a product that
// does not fit becomes the largest size, so that the allocation fails instead of wrapping.
std::size_t textBlockBytes(std::uint64_t count, std::size_t width) noexcept;

} // namespace PomaroApp
