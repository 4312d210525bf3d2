#pragma once

#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace qb {

class AppSettings;
class PreferenceStore;

// The settings window: General (downloads and transfers), Appearance, About and Help. Every
// control writes its key the moment the user changes it; showing the window writes nothing.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    // Asks the user for a folder; an empty text when cancelled.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& current)>;

    SettingsWindow(PreferenceStore& preferences, AppSettings& settings, QWidget* parent = nullptr);

    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }
    void chooseDownloadFolder();

    // The text shown for a stored folder ("~/Downloads" while none is stored).
    static QString folderText(const QString& stored);
    // Slider positions 8...14 stand for the scales 0.8...1.4.
    static int sliderPosition(double scale);

    QTabWidget* tabs() const { return m_tabs; }
    QLabel* preview() const { return m_preview; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildGeneralTab();
    QWidget* buildAppearanceTab();
    void loadValues();
    void showFolder(const QString& stored);

    PreferenceStore& m_preferences;
    AppSettings& m_settings;
    FolderChooser m_chooseFolder;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_folder = nullptr;
    QComboBox* m_overwriteRule = nullptr;
    QSpinBox* m_parallel = nullptr;
    QLabel* m_parallelLabel = nullptr;
    QCheckBox* m_quickAccess = nullptr;
    QButtonGroup* m_theme = nullptr;
    QSlider* m_fontScale = nullptr;
    QLabel* m_preview = nullptr;
};

} // namespace qb
