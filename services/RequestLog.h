#pragma once

#include <string>
#include <string_view>

namespace norvale {

// One line for a request that failed or was refused: method, path with the
// query's parameter names but none of their values, status and reason.
// Nothing else the client sent (values, headers, body) ever reaches the log.
std::string refusalLine(std::string_view method, std::string_view target, int status, std::string_view reason);

// Writes refusalLine to standard error, which systemd sends to the journal,
// in one write so that lines from many threads never mix.
void logRefusal(std::string_view method, std::string_view target, int status, std::string_view reason = {});

} // namespace norvale
