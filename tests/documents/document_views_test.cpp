#include "documents/about_tab.h"
#include "documents/document_sheets.h"
#include "documents/markdown_view.h"
#include "documents/onboarding_placeholder.h"
#include "ui_common/command_bus.h"
#include "ui_common/symbol_icon.h"

#include "support/test_support.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace qb {
namespace {

const auto* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::ApplicationEnvironment<QApplication>);

QPushButton* buttonNamed(const QWidget& parent, const QString& text)
{
    for (QPushButton* button : parent.findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

TEST(DocumentViewsTest, HeadingsShowMarkersAndTextsShowEmphasis)
{
    const MarkdownView view(u"### Keep **this**\nMake **this** bold\n- a <tag>\n\n---"_qs);
    QStringList texts;
    for (const QLabel* label : view.findChildren<QLabel*>())
        texts << label->text();
    ASSERT_EQ(texts.size(), 4); // heading, paragraph, marker and item; no label for the rest
    EXPECT_EQ(texts[0], u"Keep **this**"_qs);
    EXPECT_TRUE(texts[1].contains(u"Make <b>this</b> bold")) << texts[1].toStdString();
    EXPECT_EQ(texts[2], u"\u2022"_qs);
    EXPECT_TRUE(texts[3].contains(u"a &lt;tag&gt;")) << texts[3].toStdString();
}

TEST(DocumentViewsTest, SheetsAreWindowModalAndStartAtTheTop)
{
    QWidget window;
    HelpSheet help(&window);
    TermsSheet terms(&window);
    EXPECT_EQ(help.windowModality(), Qt::WindowModal);

    QSignalSpy crash(&help, &HelpSheet::reportCrashRequested);
    QSignalSpy feedback(&help, &HelpSheet::sendFeedbackRequested);
    buttonNamed(help, u"Report Crash"_qs)->click();
    buttonNamed(help, u"Send Feedback"_qs)->click();
    EXPECT_EQ(crash.size(), 1);
    EXPECT_EQ(feedback.size(), 1);
    EXPECT_EQ(buttonNamed(terms, u"Report Crash"_qs), nullptr);

    window.show();
    terms.open();
    QScrollBar* bar = terms.view()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    buttonNamed(terms, u"Done"_qs)->click();
    EXPECT_FALSE(terms.isVisible());
    terms.open();
    EXPECT_EQ(bar->value(), 0);
}

TEST(DocumentViewsTest, AboutTabAsksForTheLegalSheets)
{
    AboutTab tab;
    QStringList posted;
    QObject context;
    QObject::connect(&CommandBus::shared(), &CommandBus::posted, &context,
                     [&posted](const QString& name) { posted << name; });
    buttonNamed(tab, u"Terms && Conditions"_qs)->click();
    buttonNamed(tab, u"Privacy Policy"_qs)->click();
    EXPECT_EQ(posted, (QStringList{Notifications::showTerms, Notifications::showPrivacy}));
}

TEST(DocumentViewsTest, GuideOpensOnlyAValidStorePage)
{
    for (const char* bad : {"", "not a url", "https://", "ftp://halvorin.com/x", "file:///etc"})
        EXPECT_FALSE(OnboardingPlaceholder::webAddress(QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(OnboardingPlaceholder::webAddress(u"http://example.com/a"_qs));
    const std::optional<QUrl> store =
        OnboardingPlaceholder::webAddress(OnboardingPlaceholder::companionStoreAddress());
    ASSERT_TRUE(store);
    EXPECT_EQ(store->scheme(), u"https"_qs);

    OnboardingPlaceholder guide;
    QList<QUrl> opened;
    guide.setUrlOpener([&opened](const QUrl& url) { opened << url; });
    const QList<QPushButton*> buttons = guide.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1); // the Wi-Fi card's; the USB card has none
    buttons.front()->click();
    EXPECT_EQ(opened, QList<QUrl>{*store});
    int bold = 0;
    for (const QLabel* label : guide.findChildren<QLabel*>())
        bold += label->text().count(u"<b>");
    EXPECT_EQ(bold, 3); // "USB charging", "File Transfer (MTP)", "Quillbay Companion"
}

// The store button shows every word of its label whole at any width where the longest word fits:
// its symbol stands beside the label where there is room and above it where there is not.
TEST(DocumentViewsTest, GuideButtonShowsItsWholeLabelAtEveryWidth)
{
    installIconThemeFallback();
    OnboardingPlaceholder guide;
    guide.show();
    const QList<QPushButton*> buttons = guide.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    const QPushButton& button = *buttons.front();
    const QLabel* symbol = nullptr;
    const QLabel* label = nullptr;
    for (const QLabel* part : button.findChildren<QLabel*>())
        (part->text().isEmpty() ? symbol : label) = part;
    ASSERT_TRUE(symbol && label && !symbol->pixmap().isNull());

    bool beside = false;
    bool above = false;
    for (int width = 300; width <= 1000; width += 3) {
        guide.resize(width, 600);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        if (button.width() - 16 < label->minimumSizeHint().width())
            continue; // narrower than the longest word: no arrangement can show it whole
        SCOPED_TRACE(width);
        const QRect needed = label->fontMetrics().boundingRect(
            label->contentsRect(), Qt::TextWordWrap | Qt::AlignCenter, label->text());
        EXPECT_LE(needed.width(), label->width());
        EXPECT_LE(needed.height(), label->height());
        EXPECT_TRUE(button.rect().contains(label->geometry() | symbol->geometry()));
        EXPECT_FALSE(symbol->geometry().intersects(label->geometry()));
        (symbol->geometry().bottom() < label->y() ? above : beside) = true;
    }
    EXPECT_TRUE(above && beside);
    // With room to spare the label stands on one line.
    EXPECT_EQ(label->height(), label->minimumSizeHint().height());
}

} // namespace
} // namespace qb
