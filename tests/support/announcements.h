#pragma once

#include <QByteArray>
#include <QString>

namespace zqn::test {

// A 20-byte announcement (record type 1, count 12) for the MAC 02:C3:D7 followed by macTail.
inline QByteArray announcement(quint32 macTail)
{
    QByteArray bytes(20, '\0');
    bytes[9] = 0x01;
    bytes[11] = 0x0C;
    const char mac[6] = {0x02,
                         static_cast<char>(0xC3),
                         static_cast<char>(0xD7),
                         static_cast<char>((macTail >> 16) & 0xFF),
                         static_cast<char>((macTail >> 8) & 0xFF),
                         static_cast<char>(macTail & 0xFF)};
    bytes.replace(14, 6, QByteArray(mac, 6));
    return bytes;
}

// The MAC text the monitor records for announcement(macTail).
inline QByteArray macOf(quint32 macTail)
{
    return QStringLiteral("02:C3:D7:%1:%2:%3")
        .arg((macTail >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((macTail >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(macTail & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper()
        .toLatin1();
}

} // namespace zqn::test
