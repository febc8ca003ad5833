#include "platform/ViewController.h"

#include <QFile>
#include <QUiLoader>

ViewController::ViewController(const QString &nibName, QObject *parent)
    : QObject(parent)
    , m_nibName(nibName) {}

ViewController::~ViewController() {
    delete m_view;
}

QWidget *ViewController::view() {
    if (m_view)
        return m_view;
    QFile file(QStringLiteral(":/ui/%1.ui").arg(m_nibName));
    if (file.open(QIODevice::ReadOnly)) {
        QUiLoader loader;
        m_view = loader.load(&file);
    }
    if (!m_view)
        m_view = new QWidget;
    viewDidLoad();
    return m_view;
}
