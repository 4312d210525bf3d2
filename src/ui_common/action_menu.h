#pragma once

#include <QMenu>

namespace qb {

// A context menu of symbol entries. An entry that deletes is drawn, text and symbol, in the
// destructive colour (while it is not under the pointer, where the highlight's colours hold).
class ActionMenu : public QMenu
{
    Q_OBJECT

public:
    using QMenu::QMenu;

    QAction* addSymbolAction(const QString& symbol, const QString& text, bool destructive = false);
    static bool isDestructive(const QAction* action);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};

} // namespace qb
