#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

namespace qb {

// The in-process notifications by which menus and panes ask the main window for something.
namespace Notifications {
inline const QString refreshDevices = QStringLiteral("com.halvorin.quillbay.refreshDevices");
inline const QString showTransferQueue = QStringLiteral("com.halvorin.quillbay.showTransferQueue");
inline const QString showHelp = QStringLiteral("com.halvorin.quillbay.showHelp");
inline const QString showTerms = QStringLiteral("com.halvorin.quillbay.showTerms");
inline const QString showPrivacy = QStringLiteral("com.halvorin.quillbay.showPrivacy");
// Carries a Boolean: true forces the setup guide, false releases it.
inline const QString showSetupGuide = QStringLiteral("Quillbay.showSetupGuide");
} // namespace Notifications

// Delivers notifications on the GUI thread to whoever listens; a notification nobody listens to
// (for example while no main window exists) has no effect.
class CommandBus : public QObject
{
    Q_OBJECT

public:
    explicit CommandBus(QObject* parent = nullptr);

    // The process's bus, created on first use on the GUI thread.
    static CommandBus& shared();

    // Delivers at once to the current listeners, in connection order.
    void post(const QString& name, const QVariant& object = {});

    // Calls `handler` with the object of every notification of that name while `context` lives.
    template <typename Handler>
    QMetaObject::Connection observe(const QString& name, const QObject* context, Handler handler)
    {
        return connect(this, &CommandBus::posted, context,
                       [name, handler](const QString& posted, const QVariant& object) {
                           if (posted == name)
                               handler(object);
                       });
    }

signals:
    void posted(const QString& name, const QVariant& object);
};

} // namespace qb
