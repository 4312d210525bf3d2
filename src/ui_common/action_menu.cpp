#include "ui_common/action_menu.h"

#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QStyleOptionMenuItem>

namespace qb {

namespace {

constexpr char kDestructive[] = "destructive";

} // namespace

QAction* ActionMenu::addSymbolAction(const QString& symbol, const QString& text, bool destructive)
{
    QAction* action = addAction(
        destructive ? tintedSymbolIcon(symbol, destructiveColour()) : symbolIcon(symbol), text);
    action->setProperty(kDestructive, destructive);
    return action;
}

bool ActionMenu::isDestructive(const QAction* action)
{
    return action && action->property(kDestructive).toBool();
}

void ActionMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const
{
    QMenu::initStyleOption(option, action);
    if (!isDestructive(action) || !action->isEnabled())
        return;
    applyDestructiveColour(option->palette);
}

} // namespace qb
