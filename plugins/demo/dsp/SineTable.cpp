#include "plugins/demo/dsp/SineTable.h"

#include <cmath>

namespace PomaroDemo {

SineTable::SineTable()
{
    const double twoPi = 6.283185307179586476925286766559;
    for (int i = 0; i <= kSize; ++i)
        table_[i] = static_cast<float>(std::sin(twoPi * i / kSize));
}

const SineTable& SineTable::instance()
{
    static const SineTable table;
    return table;
}

} // namespace PomaroDemo
