#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace norvale::fuzz {

// The input as bytes.
inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The input as text: after a UTF-16LE byte-order mark the code units
// themselves, so that every QChar (lone surrogates too) can be reached;
// otherwise UTF-8, which keeps the seed files readable.
QString text(const uint8_t *data, size_t size);

// A property that failed: says which, with the text it failed on, and ends
// the run so that libFuzzer keeps the input.
[[noreturn]] void fail(const char *property, const QString &detail = {});

inline void require(bool holds, const char *property, const QString &detail = {})
{
    if (!holds)
        fail(property, detail);
}

} // namespace norvale::fuzz
