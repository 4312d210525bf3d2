#pragma once

#include <QObject>

namespace qb {

class AppSettings;
class DeviceListViewModel;
class TransferQueueViewModel;

// The root of the application's long-lived state, handed to the windows. Lives on the GUI
// thread. The fields are filled once at start-up and then stay; assigning the object a field
// already holds signals nothing. The objects assigned become children of this one.
class AppState : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("app/app_settings.h")
    Q_MOC_INCLUDE("core/device/device_list_view_model.h")
    Q_MOC_INCLUDE("core/transfer/transfer_queue_view_model.h")
    Q_PROPERTY(qb::DeviceListViewModel* deviceListViewModel READ deviceListViewModel WRITE
                   setDeviceListViewModel NOTIFY deviceListViewModelChanged)
    Q_PROPERTY(qb::TransferQueueViewModel* transferQueueViewModel READ transferQueueViewModel WRITE
                   setTransferQueueViewModel NOTIFY transferQueueViewModelChanged)
    Q_PROPERTY(qb::AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)

public:
    explicit AppState(QObject* parent = nullptr);
    ~AppState() override;

    DeviceListViewModel* deviceListViewModel() const { return m_deviceListViewModel; }
    void setDeviceListViewModel(DeviceListViewModel* viewModel);

    TransferQueueViewModel* transferQueueViewModel() const { return m_transferQueueViewModel; }
    void setTransferQueueViewModel(TransferQueueViewModel* viewModel);

    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);

    // Destroys the held objects, device list first, then the transfer view model, then the
    // settings; the fields become empty. Part of an orderly quit.
    void release();

signals:
    void deviceListViewModelChanged();
    void transferQueueViewModelChanged();
    void settingsChanged();

private:
    DeviceListViewModel* m_deviceListViewModel = nullptr;
    TransferQueueViewModel* m_transferQueueViewModel = nullptr;
    AppSettings* m_settings = nullptr;
};

} // namespace qb
