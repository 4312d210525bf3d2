#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>

namespace qb {

// A list model whose rows are replaced as a whole but applied to the views as a diff by key
// (removals, insertions, changed rows), so that selection, hover and scroll position survive.
// `Row` needs `key()` (hashable, unique within a list) and `operator==`.
template <typename Row> class KeyedListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    const QList<Row>& rows() const { return m_rows; }
    const Row& row(int index) const { return m_rows.at(index); }

protected:
    void replaceRows(QList<Row> next)
    {
        using Key = decltype(next.first().key());
        QHash<Key, qsizetype> nextIndex;
        nextIndex.reserve(next.size());
        for (qsizetype i = 0; i < next.size(); ++i)
            nextIndex.insert(next[i].key(), i);

        QHash<Key, qsizetype> oldIndex;
        oldIndex.reserve(m_rows.size());
        for (qsizetype i = 0; i < m_rows.size(); ++i)
            oldIndex.insert(m_rows[i].key(), i);

        // Kept rows must stay in the same order for a diff; anything else is a reset.
        bool ordered = nextIndex.size() == next.size() && oldIndex.size() == m_rows.size();
        qsizetype last = -1;
        for (qsizetype i = 0; ordered && i < m_rows.size(); ++i) {
            const auto found = nextIndex.constFind(m_rows[i].key());
            if (found == nextIndex.constEnd())
                continue;
            ordered = *found > last;
            last = *found;
        }
        if (!ordered) {
            beginResetModel();
            m_rows = std::move(next);
            endResetModel();
            return;
        }

        for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
            if (nextIndex.contains(m_rows[i].key()))
                continue;
            qsizetype first = i;
            while (first > 0 && !nextIndex.contains(m_rows[first - 1].key()))
                --first;
            beginRemoveRows({}, int(first), int(i));
            m_rows.remove(first, i - first + 1);
            endRemoveRows();
            i = first;
        }

        qsizetype changedFrom = -1;
        auto flushChanged = [&](qsizetype end) {
            if (changedFrom >= 0)
                emit this->dataChanged(this->index(int(changedFrom)), this->index(int(end - 1)));
            changedFrom = -1;
        };
        for (qsizetype i = 0; i < next.size(); ++i) {
            if (i < m_rows.size() && m_rows[i].key() == next[i].key()) {
                if (m_rows[i] == next[i]) {
                    flushChanged(i);
                } else {
                    m_rows[i] = next[i];
                    if (changedFrom < 0)
                        changedFrom = i;
                }
                continue;
            }
            flushChanged(i);
            qsizetype end = i + 1;
            while (end < next.size() && !oldIndex.contains(next[end].key()))
                ++end;
            beginInsertRows({}, int(i), int(end - 1));
            m_rows.insert(i, end - i, Row());
            std::copy(next.begin() + i, next.begin() + end, m_rows.begin() + i);
            endInsertRows();
            i = end - 1;
        }
        flushChanged(next.size());
    }

private:
    QList<Row> m_rows;
};

} // namespace qb
