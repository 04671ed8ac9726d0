#pragma once

namespace norvale {

// The windows name the fonts of the desktop they were drawn for (宋体,
// Tahoma, MS Sans Serif). Map them onto installed faces so that Chinese text renders on a
// bare Linux desktop. Safe to call more than once.
void installFontSubstitutes();

} // namespace norvale
