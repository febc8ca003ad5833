// The user-defaults file: anything may be in it (a crash mid-write, another program, the user's editor).
// Whatever the reader takes from it, writing that and reading it back gives the same map.
#include "FuzzCheck.h"

#include "platform/JsonSettingsFormat.h"

#include <QBuffer>
#include <QByteArray>
#include <QDebug>
#include <QSettings>

#include <cstddef>
#include <cstdint>

namespace {

QByteArray describe(const QSettings::SettingsMap &map) {
    QString text;
    QDebug(&text) << map;
    return text.toUtf8();
}

bool readBytes(const QByteArray &bytes, QSettings::SettingsMap &map) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return JsonSettingsFormat::read(buffer, map);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QSettings::SettingsMap first;
    if (!readBytes(input, first))
        return 0;

    QByteArray written;
    {
        QBuffer buffer(&written);
        buffer.open(QIODevice::WriteOnly);
        check(JsonSettingsFormat::write(buffer, first), "what was read can be written", describe(first));
    }
    QSettings::SettingsMap second;
    check(readBytes(written, second), "what was written reads back", written);
    check(second == first, "what was written reads back as the same map",
          "read    " + describe(first) + "\nwritten " + written + "\nreread  " + describe(second));
    return 0;
}
