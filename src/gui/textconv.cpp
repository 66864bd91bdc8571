#include "gui/textconv.h"

#include <QtGlobal>

static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace tarnwick::gui {

namespace {

// The length of the valid UTF-8 sequence at `i`, 0 when there is none.
size_t utf8Length(std::string_view s, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2, min = 0x80, code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, min = 0x800, code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, min = 0x10000, code = c & 0x07u;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (b(i + k) & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

QString fromBytes(std::string_view bytes)
{
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    size_t plainFrom = 0; // a run of ASCII and valid UTF-8 is converted in one piece
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (const size_t n = utf8Length(bytes, i)) {
            i += n;
            continue;
        }
        out += QString::fromUtf8(bytes.data() + plainFrom, static_cast<qsizetype>(i - plainFrom));
        out += QChar(c);
        plainFrom = ++i;
    }
    out += QString::fromUtf8(bytes.data() + plainFrom, static_cast<qsizetype>(bytes.size() - plainFrom));
    return out;
}

std::string toBytes(const QString& text)
{
    return text.toStdString();
}

void initResources()
{
    initIconResources();
}

} // namespace tarnwick::gui
