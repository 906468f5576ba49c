#include "ShiftJis.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace pellux {

namespace {

constexpr const char* CodePage932 = "windows-31j";

// Characters that Linux input methods produce but code page 932 spells with its own code points.
QString ToCodePage932Spelling(QString text) {
    static constexpr std::pair<char16_t, char16_t> spellings[] = {
        {u'\u301C', u'\uFF5E'}, {u'\u2212', u'\uFF0D'}, {u'\u2016', u'\u2225'},
        {u'\u2014', u'\u2015'}, {u'\u00A2', u'\uFFE0'}, {u'\u00A3', u'\uFFE1'},
        {u'\u00AC', u'\uFFE2'},
    };
    for (const auto& [from, to] : spellings) text.replace(QChar(from), QChar(to));
    return text;
}

}  // namespace

QByteArray EncodeShiftJis(const QString& text) {
    QStringEncoder encoder(CodePage932);
    return encoder.encode(ToCodePage932Spelling(text));
}

QString DecodeShiftJis(const QByteArray& bytes) {
    QStringDecoder decoder(CodePage932);
    // The converter holds back a lead byte at the end, waiting for its partner; a closing line
    // feed makes it give that byte up as U+FFFD, so a datagram never leaks into the next.
    QString text = decoder.decode(bytes + '\n');
    text.chop(1);
    // ICU's code page 932 converter substitutes SUB (U+001A) for what it cannot decode.
    text.replace(QChar(u'\u001A'), QChar(u'\uFFFD'));
    text.replace(QChar(u'\0'), QChar(u'\u2400'));
    return text;
}

}  // namespace pellux
