#pragma once

#include <QFont>
#include <QObject>

namespace qb {

// The text size multiplier of the main window's file rows and tiles. The main window sets it
// from the appearance settings; anything outside the main window reads the default 1.0.
class AppFontScale : public QObject
{
    Q_OBJECT

public:
    static AppFontScale& shared();

    double value() const { return m_value; }
    // Ignores values that are not finite and above 0.
    void setValue(double value);

    // `base` with its size multiplied by the current scale.
    QFont scaled(QFont base) const;

signals:
    void changed(double value);

private:
    double m_value = 1.0;
};

} // namespace qb
