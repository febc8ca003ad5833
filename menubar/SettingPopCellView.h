#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

// One row of the network list: the network's name and, on the selected network only, a marker.
// Its layout comes from the "SettingPopCellView" interface file, whose root widget is of this class.
class SettingPopCellView : public QWidget {
    Q_OBJECT
public:
    explicit SettingPopCellView(QWidget *parent = nullptr);

    // A new cell loaded from the interface file registered under `identifier`; nullptr for an unknown
    // identifier or an unreadable file.
    static SettingPopCellView *makeViewWithIdentifier(const QString &identifier, QWidget *parent = nullptr);
    static const QString identifier; // "CustomCell"

    QPointer<QLabel> selectedImageView() const { return m_selectedImageView; }
    QPointer<QLabel> title() const { return m_title; }

private:
    QPointer<QLabel> m_selectedImageView;
    QPointer<QLabel> m_title;
};
