#pragma once

namespace norvale {

// Window layouts are drawn in twips; 15 twips make one pixel at 96 dpi.
constexpr int twips(int value)
{
    return value >= 0 ? (value + 7) / 15 : -((-value + 7) / 15);
}

} // namespace norvale
