#pragma once

#include <atomic>

namespace norvale {

// Set by whoever no longer wants an answer (a stopped or superseded search, a
// closed lookup): a wait on another machine given it ends within a fraction
// of a second. The flag must outlive the call.
using StopFlag = std::atomic<bool>;

} // namespace norvale
