#pragma once

#include <QPalette>
#include <QString>
#include <QWidget>

namespace qb {

// A symbol drawn in one colour role of the widget's palette, looked up each time it paints, so
// that it follows a change of theme; for marks that are not buttons, such as the separators of a
// path. Nothing is drawn when no theme has the symbol.
class SymbolLabel : public QWidget
{
    Q_OBJECT

public:
    SymbolLabel(QString symbol, int size, QPalette::ColorRole role, QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    // The symbol as it is drawn now.
    QPixmap pixmap() const;

    QSize sizeHint() const override { return {m_size, m_size}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    int m_size;
    QPalette::ColorRole m_role;
};

} // namespace qb
