#include "menubar/SettingPopCellView.h"

#include <QFile>
#include <QUiLoader>

const QString SettingPopCellView::identifier = QStringLiteral("CustomCell");

SettingPopCellView::SettingPopCellView(QWidget *parent)
    : QWidget(parent) {}

SettingPopCellView *SettingPopCellView::makeViewWithIdentifier(const QString &identifier, QWidget *parent) {
    if (identifier != SettingPopCellView::identifier)
        return nullptr;
    QFile file(QStringLiteral(":/ui/SettingPopCellView.ui"));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;

    // The interface file's root is declared as this class, so the loader must be able to make one.
    class CellLoader : public QUiLoader {
    public:
        QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override {
            if (className != QLatin1String("SettingPopCellView"))
                return QUiLoader::createWidget(className, parent, name);
            auto *cell = new SettingPopCellView(parent);
            cell->setObjectName(name);
            return cell;
        }
    };
    CellLoader loader;
    QWidget *root = loader.load(&file, parent);
    auto *cell = qobject_cast<SettingPopCellView *>(root);
    if (!cell) {
        delete root;
        return nullptr;
    }
    cell->m_selectedImageView = cell->findChild<QLabel *>(QStringLiteral("selectedImageView"));
    cell->m_title = cell->findChild<QLabel *>(QStringLiteral("title"));
    return cell;
}
