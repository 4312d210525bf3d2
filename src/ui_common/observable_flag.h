#pragma once

#include <QObject>

namespace qb {

// A Boolean shared by a window and the views it builds (a two-way binding): any of them may set
// it, all of them hear real changes.
class ObservableFlag : public QObject
{
    Q_OBJECT

public:
    explicit ObservableFlag(bool value = false, QObject* parent = nullptr)
        : QObject(parent), m_value(value)
    {}

    bool value() const { return m_value; }
    void setValue(bool value)
    {
        if (value == m_value)
            return;
        m_value = value;
        emit changed(value);
    }

signals:
    void changed(bool value);

private:
    bool m_value;
};

} // namespace qb
