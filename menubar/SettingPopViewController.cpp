#include "menubar/SettingPopViewController.h"

#include "menubar/NetworkNodeSwitchNotificationName.h"
#include "menubar/SettingPopCellView.h"
#include "platform/NotificationCenter.h"
#include "platform/TextFieldCell.h"
#include "platform/UserDefaults.h"
#include "store/GasStoreService.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <cstdio>

SettingPopViewController::SettingPopViewController(QObject *parent)
    : ViewController(QStringLiteral("SettingPopViewController"), parent) {}

int SettingPopViewController::numberOfRows() {
    return static_cast<int>(GasStoreService::chainList.size());
}

int SettingPopViewController::heightOfRow(int) {
    return 21;
}

void SettingPopViewController::viewDidLoad() {
    m_tableView = outlet<QTableWidget>("tableView");
    if (!m_tableView)
        return;
    QHeaderView *rows = m_tableView->verticalHeader();
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    connect(m_tableView, &QAbstractItemView::doubleClicked, this,
            &SettingPopViewController::tableViewDoubleClick);
    reloadData();
}

void SettingPopViewController::viewWillAppear() {
    reloadData();
}

void SettingPopViewController::reloadData() {
    if (!m_tableView)
        return;
    m_tableView->setRowCount(numberOfRows());
    for (int row = 0; row < numberOfRows(); ++row) {
        m_tableView->setRowHeight(row, heightOfRow(row));
        fillRow(row);
    }
}

void SettingPopViewController::fillRow(int row) {
    auto *cell = qobject_cast<SettingPopCellView *>(m_tableView->cellWidget(row, 0));
    if (!cell) {
        cell = SettingPopCellView::makeViewWithIdentifier(SettingPopCellView::identifier);
        if (!cell)
            return;
        m_tableView->setCellWidget(row, 0, cell);
    }
    const GasStoreService::chainMessage &network = GasStoreService::chainList[static_cast<std::size_t>(row)];
    // Read afresh for every row: the selection lives only in the defaults.
    if (const QPointer<QLabel> marker = cell->selectedImageView())
        marker->setHidden(network.chainId != GasStoreService::selectedChainId());
    TextFieldCell::setTitle(cell->title(), network.chainName);
}

void SettingPopViewController::tableViewDoubleClick() {
    if (!m_tableView || !m_tableView->selectionModel())
        return;
    const QModelIndexList selected = m_tableView->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    if (row < 0 || row >= numberOfRows())
        return;
    const GasStoreService::chainMessage network = GasStoreService::chainList[static_cast<std::size_t>(row)];

    const QByteArray line = network.chainName.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);

    UserDefaults &defaults = UserDefaults::standard();
    defaults.setValue(QStringLiteral("selectedKey"), network.chainId);
    defaults.synchronize();

    reloadData();
    NotificationCenter::defaultCenter().postNotificationName(NetworkNodeSwitchNotificationName);
    if (m_didClick)
        m_didClick(this);
}
