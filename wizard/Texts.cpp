#include "Texts.h"

#include "AAA_StringTable.h"

namespace {

// Japanese and Chinese run on without blanks between words and sentences.
bool IsWide(QChar c) { return c.unicode() >= 0x3000; }

} // namespace

QString Text(int id) { return QString::fromStdU16String(AAA::LoadString(id)); }

QString TextWith(int id, std::initializer_list<std::string> values) {
    return QString::fromStdString(AAA::FillPlaceholders(AAA::LoadStringUtf8(id), values));
}

QString HeaderText(int id) {
    const QString text = Text(id).trimmed();
    QString flowing;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isSpace()) {
            flowing += text[i];
            continue;
        }
        qsizetype next = i;
        while (next < text.size() && text[next].isSpace())
            ++next;
        if (!(IsWide(text[i - 1]) && IsWide(text[next])))
            flowing += QLatin1Char(' ');
        i = next - 1;
    }
    return flowing;
}
