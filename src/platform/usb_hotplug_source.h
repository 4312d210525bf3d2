#pragma once

#include <QObject>

namespace qb {

// Tells that some USB device (any device, not only phones) was attached or detached, so that the
// owner can look at the bus again. Lives on the GUI thread and signals there.
class UsbHotplugSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts notifications; devices attached already are not reported. Returns false when this
    // system cannot deliver them (the owner then relies on polling alone).
    virtual bool start() = 0;
    // Ends notifications: no `deviceChanged` is emitted after it returns. Harmless when not
    // started.
    virtual void stop() = 0;

signals:
    void deviceChanged();
};

} // namespace qb
