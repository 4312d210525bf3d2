#include "ui_common/empty_state_view.h"
#include "ui_common/symbol_icon.h"

#include "support/test_support.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>

namespace qb {
namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::ApplicationEnvironment<QApplication>);

TEST(EmptyStateViewTest, EmptyStateShowsItsButtonOnlyWithLabelAndAction)
{
    int pressed = 0;
    const std::function<void()> action = [&pressed] {
        ++pressed;
    };
    const struct
    {
        QString label;
        std::function<void()> action;
        bool button;
    } cases[] = {{u"Retry"_qs, action, true}, {u"Retry"_qs, {}, false}, {{}, action, false}};
    const QString title = u"**No** <b>files</b> & more"_qs;
    for (const auto& c : cases) {
        EmptyStateView view(u"tray"_qs, title, u"<i>x</i>"_qs, c.label, c.action);
        EXPECT_EQ(view.button() != nullptr, c.button) << c.label.toStdString();
        EXPECT_EQ(view.title(), title);
        for (QLabel* label : view.findChildren<QLabel*>())
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        if (view.button())
            view.button()->click();
    }
    EXPECT_EQ(pressed, 1);
}

// Every symbol the empty states name draws from the fallback theme the application installs.
TEST(EmptyStateViewTest, EmptyStateSymbolsComeFromTheFallbackTheme)
{
    installIconThemeFallback();
    for (const QString& symbol : {u"tray"_qs, u"internaldrive"_qs, u"folder"_qs}) {
        EmptyStateView view(symbol, u"No Transfers"_qs, {}, {}, {});
        const QLabel* image = view.findChildren<QLabel*>().value(0);
        ASSERT_NE(image, nullptr);
        EXPECT_FALSE(image->pixmap().isNull()) << symbol.toStdString();
        EXPECT_FALSE(image->isHidden()) << symbol.toStdString();
    }
}

} // namespace
} // namespace qb
