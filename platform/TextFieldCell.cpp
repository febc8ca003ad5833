#include "platform/TextFieldCell.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLabel>
#include <QVariant>

#include <algorithm>

namespace {
const QChar ellipsis(0x2026);
// A title too long to show whole, kept on its field so that setting it again costs nothing.
constexpr char wholeTitle[] = "gweibarWholeTitle";

// Short ASCII texts (every sane price) fit without measuring: the font's widest character bounds them.
bool fitsUnmeasured(const QString &text, const QFontMetricsF &metrics) {
    return text.size() * metrics.maxWidth() <= TextFieldCell::maxWidth &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}
} // namespace

void TextFieldCell::setTitle(QLabel *field, const QString &title) {
    if (!field)
        return;
    const QString current = field->text();
    if (current == title)
        return;
    // Only a cut title ends in an ellipsis; any other leaves nothing kept on the field.
    const bool cut = current.endsWith(ellipsis);
    if (cut && field->property(wholeTitle).toString() == title)
        return;
    // The style sheet sets the field's font when it is polished; measure in that one.
    field->ensurePolished();
    const QString shown = displayed(title, field->font());
    if (shown != title)
        field->setProperty(wholeTitle, title);
    else if (cut)
        field->setProperty(wholeTitle, QVariant());
    field->setText(shown);
}

QString TextFieldCell::displayed(const QString &title, const QFont &font) {
    const QFontMetricsF metrics(font);
    if (fitsUnmeasured(title, metrics))
        return title;
    // Cut by characters first: measuring a megabyte of digits would stall the event loop.
    const QString text = title.size() > maxCharacters ? title.left(maxCharacters) + ellipsis : title;
    return metrics.elidedText(text, Qt::ElideRight, maxWidth);
}
