#include "diag/TextBuffer.h"

#include <windows.h>

#include <climits>

namespace PomaroApp {

namespace {
int wideRoom(const TextBuffer& buffer)
{
    return buffer.Capacity() > INT_MAX ? INT_MAX : static_cast<int>(buffer.Capacity());
}
} // namespace

bool TextBuffer::AssignFromAnsi(const char* bytes) noexcept
{
    if (!bytes) {
        Clear();
        return true;
    }
    // With no block a size of 0 would turn the conversion into a size query.
    if (Capacity() > 0 && MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, -1, Data(), wideRoom(*this)) > 0)
        return true;
    const int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, -1, nullptr, 0);
    if (needed > 0 && Reserve(static_cast<std::uint64_t>(needed)) &&
        MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, -1, Data(), wideRoom(*this)) > 0)
        return true;
    Clear();
    return false;
}

} // namespace PomaroApp
