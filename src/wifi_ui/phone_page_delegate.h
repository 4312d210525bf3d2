#pragma once

#include <QListView>
#include <QStyledItemDelegate>

namespace qb {

// Draws the rows of a phone's page (section headers, waiting files, history entries, the empty
// state) from a PhonePageModel; the buttons inside rows are drawn here and hit-tested by
// PhonePageListView.
class PhonePageDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The row's button (reveal on history rows, cancel on waiting rows), or an empty rectangle.
    static QRect buttonRect(const QRect& rowRect, const QModelIndex& index);

private:
    void paintHeader(QPainter* painter, const QStyleOptionViewItem& option,
                     const QModelIndex& index) const;
    void paintPending(QPainter* painter, const QStyleOptionViewItem& option,
                      const QModelIndex& index) const;
    void paintActivity(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const;
    void paintEmpty(QPainter* painter, const QStyleOptionViewItem& option,
                    const QModelIndex& index) const;
};

// The list of a phone's page: single click selects a history entry, double click opens it, the
// buttons inside rows act without selecting, and history rows have a context menu.
class PhonePageListView : public QListView
{
    Q_OBJECT

public:
    explicit PhonePageListView(QWidget* parent = nullptr);

signals:
    void entrySelected(const QModelIndex& index);
    void entryOpened(const QModelIndex& index);
    void buttonClicked(const QModelIndex& index);
    void entryMenuRequested(const QModelIndex& index, const QPoint& globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QModelIndex buttonAt(const QPoint& pos) const;
    bool isEntry(const QModelIndex& index) const;

    QPersistentModelIndex m_pressedButton;
};

} // namespace qb
