#pragma once

#include "platform/ViewController.h"

#include <QPointer>
#include <QTableWidget>

#include <functional>

// The network-choice list: one row per known network, a marker on the selected one; a double click
// chooses the network.
class SettingPopViewController : public ViewController {
    Q_OBJECT
public:
    using DidClick = std::function<void(SettingPopViewController *)>;

    explicit SettingPopViewController(QObject *parent = nullptr);

    void setDidClick(DidClick didClick) { m_didClick = std::move(didClick); }
    QPointer<QTableWidget> tableView() const { return m_tableView; }

    void viewWillAppear() override;
    // Rebuilds every row from the network table and the stored selection.
    void reloadData();

    static int numberOfRows();
    static int heightOfRow(int row);

public slots:
    void tableViewDoubleClick();

protected:
    void viewDidLoad() override;

private:
    void fillRow(int row);

    QPointer<QTableWidget> m_tableView;
    DidClick m_didClick;
};
