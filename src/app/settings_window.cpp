#include "app/settings_window.h"

#include "app/app_settings.h"
#include "core/transfer/transfer_preferences.h"
#include "documents/about_tab.h"
#include "documents/built_in_documents.h"
#include "documents/markdown_view.h"
#include "ui_common/plain_text_tooltip.h"
#include "ui_common/symbol_icon.h"
#include "ui_common/text_styles.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

namespace qb {

namespace {

QLabel* secondaryLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

SettingsWindow::SettingsWindow(PreferenceStore& preferences, AppSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_preferences(preferences), m_settings(settings),
      m_chooseFolder([](QWidget* owner, const QString& current) {
          return QFileDialog::getExistingDirectory(owner, tr("Choose"), current);
      })
{
    setWindowTitle(tr("Settings"));
    setFixedSize(540, 480);
    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(buildGeneralTab(), symbolIcon(QStringLiteral("gearshape")), tr("General"));
    m_tabs->addTab(buildAppearanceTab(), symbolIcon(QStringLiteral("paintbrush")),
                   tr("Appearance"));
    m_tabs->addTab(new AboutTab(this), symbolIcon(QStringLiteral("info.circle")), tr("About"));
    m_tabs->addTab(new MarkdownView(BuiltInDocuments::help(), this),
                   symbolIcon(QStringLiteral("questionmark.circle")), tr("Help"));
    layout->addWidget(m_tabs);
    loadValues();

    connect(&m_settings, &AppSettings::themeChanged, this, &SettingsWindow::loadValues);
    connect(&m_settings, &AppSettings::fontScaleChanged, this, &SettingsWindow::loadValues);
    // The computer pane writes the download folder too.
    connect(&m_preferences, &PreferenceStore::changed, this, &SettingsWindow::loadValues);
}

QWidget* SettingsWindow::buildGeneralTab()
{
    auto* tab = new QWidget(this);
    auto* layout = new QVBoxLayout(tab);

    auto* downloads = new QGroupBox(tr("Downloads"), tab);
    auto* downloadsForm = new QFormLayout(downloads);
    auto* folderRow = new QHBoxLayout;
    m_folder = secondaryLabel(QString(), downloads);
    m_folder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* choose = new QPushButton(tr("Choose…"), downloads);
    choose->setAccessibleName(tr("Choose download folder"));
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(choose);
    downloadsForm->addRow(folderRow);
    m_overwriteRule = new QComboBox(downloads);
    for (OverwriteRule rule : allOverwriteRules())
        m_overwriteRule->addItem(displayName(rule), QVariant::fromValue(int(rule)));
    downloadsForm->addRow(tr("When file exists:"), m_overwriteRule);
    layout->addWidget(downloads);

    auto* transfers = new QGroupBox(tr("Transfers"), tab);
    auto* transfersRow = new QHBoxLayout(transfers);
    m_parallelLabel = new QLabel(transfers);
    m_parallel = new QSpinBox(transfers);
    m_parallel->setRange(TransferPreferences::minParallelTransfers,
                         TransferPreferences::maxParallelTransfers);
    m_parallel->setAccessibleName(tr("Parallel transfers"));
    m_parallelLabel->setBuddy(m_parallel);
    transfersRow->addWidget(m_parallelLabel);
    transfersRow->addStretch(1);
    transfersRow->addWidget(m_parallel);
    layout->addWidget(transfers);

    auto* pane = new QGroupBox(tr("Computer Pane"), tab);
    auto* paneLayout = new QVBoxLayout(pane);
    m_quickAccess =
        new QCheckBox(tr("Show Quick Access shortcuts (Downloads, Desktop, Documents)"), pane);
    paneLayout->addWidget(m_quickAccess);
    layout->addWidget(pane);
    layout->addStretch(1);

    connect(choose, &QPushButton::clicked, this, &SettingsWindow::chooseDownloadFolder);
    connect(m_overwriteRule, &QComboBox::currentIndexChanged, this, [this](int index) {
        TransferPreferences(m_preferences)
            .setOverwriteRule(OverwriteRule(m_overwriteRule->itemData(index).toInt()));
    });
    connect(m_parallel, &QSpinBox::valueChanged, this, [this](int value) {
        TransferPreferences(m_preferences).setParallelTransfers(value);
        m_parallelLabel->setText(tr("Parallel transfers: %1").arg(value));
    });
    connect(m_quickAccess, &QCheckBox::toggled, this,
            [this](bool on) { TransferPreferences(m_preferences).setShowQuickAccess(on); });
    return tab;
}

QWidget* SettingsWindow::buildAppearanceTab()
{
    auto* tab = new QWidget(this);
    auto* layout = new QVBoxLayout(tab);

    auto* theme = new QGroupBox(tr("Theme"), tab);
    auto* themeRow = new QHBoxLayout(theme);
    m_theme = new QButtonGroup(this);
    const std::pair<AppTheme, QString> segments[] = {{AppTheme::System, tr("System")},
                                                     {AppTheme::Light, tr("Light")},
                                                     {AppTheme::Dark, tr("Dark")}};
    for (const auto& [value, text] : segments) {
        auto* button = new QPushButton(text, theme);
        button->setCheckable(true);
        button->setAccessibleDescription(tr("Color Scheme"));
        m_theme->addButton(button, int(value));
        themeRow->addWidget(button);
    }
    m_theme->setExclusive(true);
    layout->addWidget(theme);

    auto* font = new QGroupBox(tr("Font Size"), tab);
    auto* fontLayout = new QVBoxLayout(font);
    fontLayout->setSpacing(6);
    m_fontScale = new QSlider(Qt::Horizontal, font);
    m_fontScale->setRange(8, 14);
    m_fontScale->setSingleStep(1);
    m_fontScale->setPageStep(1);
    m_fontScale->setAccessibleName(tr("Font Size"));
    fontLayout->addWidget(m_fontScale);
    auto* captions = new QHBoxLayout;
    captions->addWidget(secondaryLabel(tr("Small"), font));
    captions->addStretch(1);
    captions->addWidget(secondaryLabel(tr("Default"), font));
    captions->addStretch(1);
    captions->addWidget(secondaryLabel(tr("Large"), font));
    fontLayout->addLayout(captions);
    m_preview =
        secondaryLabel(tr("Preview: ") + QStringLiteral("DCIM / Camera / IMG_0001.jpg"), font);
    fontLayout->addWidget(m_preview);
    layout->addWidget(font);
    layout->addStretch(1);

    connect(m_theme, &QButtonGroup::idClicked, this,
            [this](int id) { m_settings.setTheme(AppTheme(id)); });
    connect(m_fontScale, &QSlider::valueChanged, this,
            [this](int position) { m_settings.setFontScale(position / 10.0); });
    return tab;
}

void SettingsWindow::loadValues()
{
    // Controls take their values without writing anything back.
    const TransferPreferences transfers(m_preferences);
    showFolder(transfers.downloadFolder());
    {
        const QSignalBlocker block(m_overwriteRule);
        m_overwriteRule->setCurrentIndex(
            m_overwriteRule->findData(QVariant::fromValue(int(transfers.overwriteRule()))));
    }
    {
        const QSignalBlocker block(m_parallel);
        m_parallel->setValue(transfers.parallelTransfers());
        m_parallelLabel->setText(tr("Parallel transfers: %1").arg(m_parallel->value()));
    }
    {
        const QSignalBlocker block(m_quickAccess);
        m_quickAccess->setChecked(transfers.showQuickAccess());
    }
    if (QAbstractButton* button = m_theme->button(int(m_settings.theme())))
        button->setChecked(true);
    {
        const QSignalBlocker block(m_fontScale);
        m_fontScale->setValue(sliderPosition(m_settings.fontScale()));
    }
    m_preview->setFont(fixedSizeFont(13 * m_settings.fontScale(), m_preview->font()));
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    loadValues();
    QWidget::showEvent(event);
}

void SettingsWindow::chooseDownloadFolder()
{
    TransferPreferences transfers(m_preferences);
    const QString chosen = m_chooseFolder(this, transfers.downloadFolder());
    if (chosen.isEmpty())
        return;
    // The store's change signal shows it.
    transfers.setDownloadFolder(QDir::fromNativeSeparators(chosen));
}

void SettingsWindow::showFolder(const QString& stored)
{
    const QString text = folderText(stored);
    m_folder->setText(m_folder->fontMetrics().elidedText(text, Qt::ElideMiddle, 380));
    setPlainTextToolTip(m_folder, text);
    m_folder->setAccessibleName(text);
}

QString SettingsWindow::folderText(const QString& stored)
{
    return stored.isEmpty() ? QStringLiteral("~/Downloads") : stored;
}

int SettingsWindow::sliderPosition(double scale)
{
    return std::clamp(int(std::lround(scale * 10)), 8, 14);
}

} // namespace qb
