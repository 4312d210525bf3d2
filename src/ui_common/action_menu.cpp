#include "ui_common/action_menu.h"

#include "ui_common/symbol_icon.h"

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
    // Styles differ in which role they draw an entry's text with; all of them get the colour.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role :
             {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            option->palette.setColor(group, role, destructiveColour());
    }
}

} // namespace qb
