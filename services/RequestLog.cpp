#include "services/RequestLog.h"

#include <unistd.h>

namespace norvale {

namespace {

constexpr size_t kMostTarget = 200;

std::string_view usualReason(int status)
{
    switch (status) {
    case 400: return "bad parameter";
    case 404: return "no such page";
    case 408: return "request not whole by its deadline";
    case 413: return "body over 64 KiB";
    case 414: return "target too long";
    case 416: return "too many or too large ranges";
    case 431: return "head over 16 KiB";
    case 501: return "body sent in pieces";
    case 503: return "service unavailable";
    default: return "refused";
    }
}

// Bytes outside printable ASCII as %XX: a target cannot start a line of its own.
void appendPrintable(std::string *line, std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte < 0x7f) {
            *line += c;
        } else {
            *line += '%';
            *line += hex[byte >> 4];
            *line += hex[byte & 15];
        }
    }
}

// The path and the query's names, each followed by its '=' and no value.
std::string withoutValues(std::string_view target)
{
    target = target.substr(0, target.find('#'));
    const size_t question = target.find('?');
    std::string shown(target.substr(0, question));
    if (question == std::string_view::npos)
        return shown;
    std::string_view query = target.substr(question + 1);
    char separator = '?';
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        const size_t equals = part.find('=');
        if (equals != std::string_view::npos) {
            shown += separator;
            shown += part.substr(0, equals + 1);
            separator = '&';
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return shown;
}

} // namespace

std::string refusalLine(std::string_view method, std::string_view target, int status, std::string_view reason)
{
    std::string line = "norvale-services: ";
    if (method.empty())
        line += '-';
    appendPrintable(&line, method.substr(0, 16));
    line += ' ';
    const std::string shown = withoutValues(target);
    if (shown.empty())
        line += '-';
    appendPrintable(&line, std::string_view(shown).substr(0, kMostTarget));
    if (shown.size() > kMostTarget)
        line += "...";
    line += ' ' + std::to_string(status) + ' ';
    line += reason.empty() ? usualReason(status) : reason;
    return line;
}

void logRefusal(std::string_view method, std::string_view target, int status, std::string_view reason)
{
    const std::string line = refusalLine(method, target, status, reason) + '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

} // namespace norvale
