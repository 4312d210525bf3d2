#include "browsing/phone_pane_drop_handler.h"

#include "browsing/phone_paste.h"

#include "core/transfer/transfer_queue_view_model.h"
#include "platform/when_finished.h"
#include "ui_common/command_bus.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHash>
#include <QMessageBox>
#include <QMimeData>
#include <QWidget>
#include <QtConcurrent>

namespace qb {

void applyDropPlan(const DropPlan& plan, TransferQueueViewModel& transfers, QWidget* alertParent)
{
    if (!plan.jobs.isEmpty())
        transfers.enqueue(plan.jobs);
    // Files of another phone go through the computer, one paste per phone they come from.
    using Source = std::pair<QString, quint64>; // id and attachment
    QHash<Source, QList<FileItem>> bySource;
    QList<Source> sources;
    for (const PhoneItemTransferable& item : plan.crossPhoneCopies) {
        const Source source{item.deviceId, item.attachment};
        if (!bySource.contains(source))
            sources.append(source);
        bySource[source].append(item.fileItem);
    }
    for (const Source& source : sources)
        PhonePaste::start(transfers, bySource.value(source), source.first, source.second,
                          {plan.targetDeviceId, plan.targetFolderPath, plan.targetAttachment},
                          &transfers);
    const int requests = plan.showQueueRequests + (sources.isEmpty() ? 0 : 1);
    for (int i = 0; i < requests; ++i)
        CommandBus::shared().post(Notifications::showTransferQueue);
    if (!plan.refusals.isEmpty() && alertParent) {
        auto* box = new QMessageBox(QMessageBox::Warning, QObject::tr("Error"),
                                    plan.refusals.join(QLatin1Char('\n')), QMessageBox::Ok,
                                    alertParent->window());
        box->setTextFormat(Qt::PlainText);
        box->setWindowModality(Qt::WindowModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

PhonePaneDropHandler::PhonePaneDropHandler(QWidget* area, TransferQueueViewModel& transfers,
                                           TargetProvider target)
    : QObject(area), m_area(area), m_transfers(transfers), m_target(std::move(target))
{
    area->setAcceptDrops(true);
    area->installEventFilter(this);
}

bool PhonePaneDropHandler::handleDrop(const QMimeData& data, Qt::KeyboardModifiers modifiers)
{
    DropContent content = DropContent::from(data);
    const PhoneDropTarget target = m_target ? m_target() : PhoneDropTarget{};
    if (!phonePaneAccepts(target, content))
        return false;
    const bool copy = isCopyModifier(modifiers);
    QFuture<DropPlan> planning = QtConcurrent::run([target, content = std::move(content), copy] {
        return planPhonePaneDrop(target, content, copy);
    });
    whenFinished(this, planning, [this](const QFuture<DropPlan>& done) {
        if (done.resultCount() == 0)
            return;
        const DropPlan plan = done.result();
        applyDropPlan(plan, m_transfers, m_area);
        emit dropApplied(plan);
    });
    return true;
}

bool PhonePaneDropHandler::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        // The content is read once, at the enter: a move comes with every step of the pointer,
        // and a drag of many files would be decoded again each time.
        if (event->type() == QEvent::DragEnter)
            m_accepting = phonePaneAccepts(m_target ? m_target() : PhoneDropTarget{},
                                           DropContent::from(*drag->mimeData()));
        if (m_accepting) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (handleDrop(*drop->mimeData(), drop->modifiers())) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace qb
