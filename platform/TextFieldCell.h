#pragma once

#include <QString>

class QFont;
class QLabel;

// How the popovers set the text of a text field (the title of its cell). A server can send a price of any
// length, and the popover's layout grows with its fields, so what a field draws is cut to a sane number
// of characters and then elided to a sane width, as the panel title is. The stores keep the whole text.
class TextFieldCell {
public:
    static constexpr int maxCharacters = 200;
    static constexpr double maxWidth = 240.0; // points

    // Shows `title` in `field` as displayed() cuts it, in the field's own font; does nothing for a null
    // field. Setting the title that the field already has measures nothing and changes nothing.
    static void setTitle(QLabel *field, const QString &title);
    // The title as a field in `font` draws it: at most maxCharacters, elided on the right to maxWidth.
    static QString displayed(const QString &title, const QFont &font);
};
