#pragma once

#include "browsing/pane_context.h"

#include <QWidget>

class QModelIndex;
class QTreeView;

namespace qb {

class DeviceSidebarController;
class DeviceSidebarModel;

// The left column: USB phones with their storages, Wi-Fi phones and the setup guide. USB phones
// are the only selectable rows; storages, Wi-Fi phones and the actions are clicked.
class DeviceSidebarView : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceSidebarView(const PaneContext& context, QWidget* parent = nullptr);
    ~DeviceSidebarView() override;

    DeviceSidebarController& controller() const { return *m_controller; }
    DeviceSidebarModel& model() const { return *m_model; }
    QTreeView* tree() const { return m_tree; }

    // What a click (or Return) on a row does.
    void activate(const QModelIndex& index);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void selectionFromView();
    void selectionFromModel();
    void showMenu(const QPoint& position);

    PaneContext m_context;
    DeviceSidebarController* m_controller;
    DeviceSidebarModel* m_model;
    QTreeView* m_tree;
    bool m_syncing = false;
};

} // namespace qb
