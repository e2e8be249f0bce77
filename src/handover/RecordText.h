#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstring>

namespace tvx {

// A record field's text up to its terminating zero, never past its room.
template <size_t N>
QByteArray fieldBytes(const char (&field)[N])
{
    return QByteArray(field, static_cast<qsizetype>(strnlen(field, N)));
}

// The module's bytes as the window shows them: one character per byte.
template <size_t N>
QString fieldText(const char (&field)[N])
{
    return QString::fromLatin1(fieldBytes(field));
}

// The character at `index` of a field's text, or '\0' past its end.
template <size_t N>
char fieldChar(const char (&field)[N], size_t index)
{
    return index < strnlen(field, N) ? field[index] : '\0';
}

// Stores `bytes` zero-filled and zero-terminated; what does not fit is cut,
// so nothing is ever written beyond the field.
template <size_t N>
void storeField(char (&field)[N], const QByteArray& bytes)
{
    std::memset(field, 0, N);
    std::memcpy(field, bytes.constData(),
                std::min<size_t>(static_cast<size_t>(bytes.size()), N - 1));
}

template <size_t N>
void storeField(char (&field)[N], const char* text)
{
    storeField(field, QByteArray(text));
}

} // namespace tvx
