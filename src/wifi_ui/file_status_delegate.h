#pragma once

#include <QDateTime>
#include <QStyledItemDelegate>

#include <functional>

namespace qb {

// Draws one file of the send sheet: icon, name, status and, while the phone fetches it, the bar,
// the bytes, the percentage, the average speed and the time left, from a TrackedFilesModel.
class FileStatusDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    explicit FileStatusDelegate(QObject* parent = nullptr);
    void setClock(Clock clock) { m_clock = std::move(clock); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    Clock m_clock;
};

} // namespace qb
