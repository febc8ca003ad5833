#pragma once

#include <QSizeF>
#include <QString>

// How a status title is measured and shown in the panel. A server can send a price of any length, so a
// title is cut to a sane number of characters and a sane width before anything measures or shows it.
class PanelText {
public:
    static constexpr int maxCharacters = 200;
    static constexpr double maxWidth = 600.0; // points

    // The title as the panel shows it: at most maxCharacters, elided on the right to at most maxWidth.
    static QString displayed(const QString &title);
    // Size of the displayed title in the panel font (the application font), in points.
    static QSizeF size(const QString &title);
    // A run of "0" about `points` wide in the panel font: hosts reserve the width of such a guide so the
    // label does not jitter as digits change.
    static QString guide(double points);
};
