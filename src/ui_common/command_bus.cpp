#include "ui_common/command_bus.h"

namespace qb {

CommandBus::CommandBus(QObject* parent) : QObject(parent) {}

CommandBus& CommandBus::shared()
{
    static CommandBus* bus = new CommandBus; // lives until the process ends
    return *bus;
}

void CommandBus::post(const QString& name, const QVariant& object)
{
    emit posted(name, object);
}

} // namespace qb
