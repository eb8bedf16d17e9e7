#include "bench/OutputBuffers.h"

#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <new>
#include <numeric>
#include <sys/mman.h>

namespace PomaroBench {
namespace {
constexpr std::size_t kHugePage = 2u << 20;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kLine = 64;
} // namespace

PageMemory::PageMemory(std::size_t bytes, bool hugePages)
{
    const std::size_t align = hugePages ? kHugePage : kPage;
    size_ = (bytes + align - 1) / align * align;
    data_ = static_cast<unsigned char*>(std::aligned_alloc(align, size_));
    if (!data_)
        throw std::bad_alloc();
    if (hugePages)
        madvise(data_, size_, MADV_HUGEPAGE); // advisory: without it the pool still works
    std::memset(data_, 0, size_);             // fault every page in before measuring
}

PageMemory::~PageMemory() { std::free(data_); }

ColdPool::ColdPool(std::size_t bufferBytes, std::size_t poolBytes)
    : bufferBytes_(bufferBytes), slotBytes_((bufferBytes + kPage - 1) / kPage * kPage),
      slots_(poolBytes / slotBytes_), step_(1), memory_(slots_ * slotBytes_, true)
{
    // A step near the golden section of the slot count, coprime with it, visits
    // every slot once per round with no two neighbours in a row.
    for (std::size_t s = slots_ * 618 / 1000; s > 1; --s) {
        if (std::gcd(s, slots_) == 1) {
            step_ = s;
            break;
        }
    }
}

unsigned char* ColdPool::next()
{
    unsigned char* p = memory_.data() + position_ * slotBytes_;
    position_ = (position_ + step_) % slots_;
    ++used_;
    return p;
}

void ColdPool::flush()
{
    for (std::size_t s = 0; s < slots_; ++s) {
        unsigned char* slot = memory_.data() + s * slotBytes_;
        for (std::size_t off = 0; off < bufferBytes_; off += kLine)
            _mm_clflush(slot + off);
    }
    _mm_mfence();
    used_ = 0;
}

} // namespace PomaroBench
