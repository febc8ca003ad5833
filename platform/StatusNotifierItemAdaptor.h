#pragma once

#include "platform/StatusNotifierIconPixmap.h"
#include "platform/StatusNotifierToolTip.h"

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QString>

class StatusNotifierItem;

// The org.kde.StatusNotifierItem interface of a StatusNotifierItem, with the Ayatana label extension.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(StatusNotifierIconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(StatusNotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem *item);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("gweibar"); }
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    QString iconName() const { return {}; }
    StatusNotifierIconPixmapList iconPixmap() const;
    StatusNotifierToolTip toolTip() const;
    bool itemIsMenu() const { return false; }
    // The item has no menu, yet GNOME's AppIndicator support shows only items whose Menu is an object
    // path other than "/NO_DBUSMENU". Nothing is exported here: hosts find no menu there and send
    // Activate or ContextMenu instead.
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/MenuBar")); }
    QString label() const;
    QString labelGuide() const;

public slots:
    void Activate(int x, int y);
    // Some hosts send these on a left click; the item has no other use for them.
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString &orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString &status);
    void XAyatanaNewLabel(const QString &label, const QString &guide);

private:
    StatusNotifierItem *m_item;
};
