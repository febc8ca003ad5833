#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

// A controller whose view is loaded from a Qt Designer interface file (":/ui/<nibName>.ui") on first
// use. Outlets are looked up by object name and held weakly.
class ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(const QString &nibName, QObject *parent = nullptr);
    ~ViewController() override;

    QString nibName() const { return m_nibName; }
    bool isViewLoaded() const { return m_view != nullptr; }
    // Loads the view on first call and runs viewDidLoad() once. Never null: a missing interface file
    // gives an empty widget.
    QWidget *view();

    // Called by the popover right before it shows the view.
    virtual void viewWillAppear() {}

protected:
    virtual void viewDidLoad() {}

    template <class W> QPointer<W> outlet(const char *objectName) const {
        return m_view ? QPointer<W>(m_view->findChild<W *>(QString::fromLatin1(objectName))) : QPointer<W>();
    }

private:
    QString m_nibName;
    QWidget *m_view = nullptr; // owned
};
