#include "ui/system_text.h"

namespace tessel::ui {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // + the byte, for bytes 0x80 to 0xFF

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the UTF-8 sequence that starts at `at`, or 0 when no valid one does there
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t point = 0;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        point = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        point = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        point = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!IsContinuation(byte)) return 0;
        point = (point << 6) | (byte & 0x3Fu);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

QString FromSystemText(std::string_view text) {
    QString result;
    result.reserve(static_cast<qsizetype>(text.size()));
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0) {
            result +=
                QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(text[at])));
            ++at;
            continue;
        }
        result += QString::fromUtf8(text.data() + at, static_cast<qsizetype>(length));
        at += length;
    }
    return result;
}

std::string ToSystemPath(const QString& path) {
    std::string bytes;
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        bytes += path.mid(runStart, end - runStart).toUtf8().toStdString();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        // An escape stands alone: the same unit after a high surrogate is half of a character.
        const char16_t unit = path[i].unicode();
        if (unit < kEscapeBase + 0x80 || unit > kEscapeBase + 0xFF ||
            (i > 0 && path[i - 1].isHighSurrogate()))
            continue;
        flush(i);
        bytes += static_cast<char>(unit - kEscapeBase);
        runStart = i + 1;
    }
    flush(path.size());
    return bytes;
}

}  // namespace tessel::ui
