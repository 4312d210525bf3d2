#include "app/app_state.h"

#include "app/app_settings.h"
#include "core/device/device_list_view_model.h"
#include "core/transfer/transfer_queue_view_model.h"

namespace qb {

namespace {

// Adopts `next` into `field`; true when the field changed.
template <typename T> bool adopt(QObject* owner, T*& field, T* next)
{
    if (field == next)
        return false;
    field = next;
    if (next)
        next->setParent(owner);
    return true;
}

} // namespace

AppState::AppState(QObject* parent) : QObject(parent) {}

AppState::~AppState()
{
    release();
}

void AppState::setDeviceListViewModel(DeviceListViewModel* viewModel)
{
    if (adopt(this, m_deviceListViewModel, viewModel))
        emit deviceListViewModelChanged();
}

void AppState::setTransferQueueViewModel(TransferQueueViewModel* viewModel)
{
    if (adopt(this, m_transferQueueViewModel, viewModel))
        emit transferQueueViewModelChanged();
}

void AppState::setSettings(AppSettings* settings)
{
    if (adopt(this, m_settings, settings))
        emit settingsChanged();
}

void AppState::release()
{
    // The device list goes first: it stops handing repositories to jobs that still run.
    delete std::exchange(m_deviceListViewModel, nullptr);
    delete std::exchange(m_transferQueueViewModel, nullptr);
    delete std::exchange(m_settings, nullptr);
}

} // namespace qb
