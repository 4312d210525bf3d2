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
        if (m_rows.isEmpty() || next.isEmpty()) {
            if (!m_rows.isEmpty()) {
                beginRemoveRows({}, 0, int(m_rows.size()) - 1);
                m_rows.clear();
                endRemoveRows();
            } else if (!next.isEmpty()) {
                beginInsertRows({}, 0, int(next.size()) - 1);
                m_rows = std::move(next);
                endInsertRows();
            }
            return;
        }
        // Most changes touch one end or one spot: only what lies between the common head and
        // tail (compared by key) is matched through hashes.
        const qsizetype oldSize = m_rows.size();
        const qsizetype newSize = next.size();
        qsizetype head = 0;
        while (head < oldSize && head < newSize && m_rows[head].key() == next[head].key())
            ++head;
        qsizetype tail = 0;
        while (tail < oldSize - head && tail < newSize - head &&
               m_rows[oldSize - 1 - tail].key() == next[newSize - 1 - tail].key())
            ++tail;

        using Key = decltype(next.first().key());
        QHash<Key, qsizetype> nextIndex;
        nextIndex.reserve(newSize - tail - head);
        for (qsizetype i = head; i < newSize - tail; ++i)
            nextIndex.insert(next[i].key(), i);
        QHash<Key, qsizetype> oldIndex;
        oldIndex.reserve(oldSize - tail - head);
        for (qsizetype i = head; i < oldSize - tail; ++i)
            oldIndex.insert(m_rows[i].key(), i);

        // Kept rows must keep their order, and keys be unique, for a diff; else a reset.
        bool ordered =
            nextIndex.size() == newSize - tail - head && oldIndex.size() == oldSize - tail - head;
        qsizetype last = -1;
        for (qsizetype i = head; ordered && i < oldSize - tail; ++i) {
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

        for (qsizetype i = oldSize - tail - 1; i >= head; --i) {
            if (nextIndex.contains(m_rows[i].key()))
                continue;
            qsizetype first = i;
            while (first > head && !nextIndex.contains(m_rows[first - 1].key()))
                --first;
            beginRemoveRows({}, int(first), int(i));
            m_rows.remove(first, i - first + 1);
            endRemoveRows();
            i = first;
        }
        for (qsizetype i = head; i < newSize - tail; ++i) {
            if (i < m_rows.size() - tail && m_rows[i].key() == next[i].key())
                continue;
            qsizetype end = i + 1;
            while (end < newSize - tail && !oldIndex.contains(next[end].key()))
                ++end;
            beginInsertRows({}, int(i), int(end - 1));
            m_rows.insert(i, end - i, Row());
            std::copy(next.begin() + i, next.begin() + end, m_rows.begin() + i);
            endInsertRows();
            i = end - 1;
        }

        // Same keys in the same places now: report the rows whose content changed.
        qsizetype changedFrom = -1;
        for (qsizetype i = 0; i <= newSize; ++i) {
            const bool changed = i < newSize && !(m_rows[i] == next[i]);
            if (changed) {
                m_rows[i] = std::move(next[i]);
                if (changedFrom < 0)
                    changedFrom = i;
            } else if (changedFrom >= 0) {
                emit this->dataChanged(this->index(int(changedFrom)), this->index(int(i - 1)));
                changedFrom = -1;
            }
        }
    }

private:
    QList<Row> m_rows;
};

} // namespace qb
