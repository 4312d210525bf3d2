#include "ui_common/symbol_icon.h"

#include "ui_common/colour_contrast.h"

#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QLineF>
#include <QPainter>
#include <QPalette>

namespace qb {

namespace {

const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("app.badge"), QStringLiteral("application-x-executable")},
        {QStringLiteral("archivebox"), QStringLiteral("package-x-generic")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("folder-download|go-down")},
        {QStringLiteral("arrow.down.circle.fill"), QStringLiteral("go-down")},
        {QStringLiteral("arrow.down.left.circle.fill"), QStringLiteral("go-down")},
        {QStringLiteral("arrow.right.circle"), QStringLiteral("go-next")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.trianglehead.2.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("arrow.up.arrow.down.circle"), QStringLiteral("mail-send-receive")},
        {QStringLiteral("arrow.up.circle"), QStringLiteral("go-up")},
        {QStringLiteral("arrow.up.right.circle.fill"), QStringLiteral("go-up")},
        {QStringLiteral("arrow.up.right.square"), QStringLiteral("document-open")},
        {QStringLiteral("bluetooth"), QStringLiteral("bluetooth")},
        {QStringLiteral("cable.connector"), QStringLiteral("drive-removable-media")},
        {QStringLiteral("cable.connector.slash"), QStringLiteral("drive-removable-media")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok")},
        {QStringLiteral("checkmark.shield.fill"), QStringLiteral("security-high")},
        {QStringLiteral("clock"), QStringLiteral("appointment-soon")},
        {QStringLiteral("chevron.left"), QStringLiteral("go-previous")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next")},
        {QStringLiteral("desktopcomputer"), QStringLiteral("computer")},
        {QStringLiteral("doc"), QStringLiteral("text-x-generic")},
        {QStringLiteral("doc.fill"), QStringLiteral("text-x-generic")},
        {QStringLiteral("doc.on.clipboard"), QStringLiteral("edit-paste")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy")},
        {QStringLiteral("doc.richtext"), QStringLiteral("x-office-document")},
        {QStringLiteral("doc.text"), QStringLiteral("text-x-generic")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("view-more")},
        {QStringLiteral("envelope"), QStringLiteral("mail-send")},
        {QStringLiteral("exclamationmark.circle.fill"), QStringLiteral("dialog-error")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning")},
        {QStringLiteral("eye"), QStringLiteral("view-reveal")},
        {QStringLiteral("externaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("film"), QStringLiteral("video-x-generic")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
        {QStringLiteral("folder.badge.questionmark"), QStringLiteral("folder")},
        {QStringLiteral("folder.fill"), QStringLiteral("folder")},
        {QStringLiteral("gearshape"), QStringLiteral("preferences-system")},
        {QStringLiteral("house"), QStringLiteral("user-home")},
        {QStringLiteral("info.circle"), QStringLiteral("help-about")},
        {QStringLiteral("internaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("iphone.gen3"), QStringLiteral("phone")},
        {QStringLiteral("iphone.gen3.radiowaves.left.and.right"), QStringLiteral("phone")},
        {QStringLiteral("ladybug"), QStringLiteral("tools-report-bug")},
        {QStringLiteral("laptopcomputer"), QStringLiteral("computer")},
        {QStringLiteral("lightbulb"), QStringLiteral("dialog-information")},
        {QStringLiteral("list.bullet"), QStringLiteral("view-list")},
        {QStringLiteral("lock.shield"), QStringLiteral("security-high")},
        {QStringLiteral("menubar.dock.rectangle"), QStringLiteral("user-desktop")},
        {QStringLiteral("music.note"), QStringLiteral("audio-x-generic")},
        {QStringLiteral("paintbrush"), QStringLiteral("preferences-desktop-theme")},
        {QStringLiteral("paperplane.fill"), QStringLiteral("document-send")},
        {QStringLiteral("pause.circle"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("pause.fill"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit")},
        {QStringLiteral("photo"), QStringLiteral("image-x-generic")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("help-browser")},
        {QStringLiteral("sidebar.right"), QStringLiteral("view-dual")},
        {QStringLiteral("speedometer"), QStringLiteral("power-profile-performance")},
        {QStringLiteral("square.grid.2x2"), QStringLiteral("view-grid")},
        {QStringLiteral("trash"), QStringLiteral("edit-delete")},
        {QStringLiteral("trash.circle"), QStringLiteral("edit-delete")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("tray"), QStringLiteral("mail-inbox|mail-send-receive|folder-download")},
        {QStringLiteral("wifi"), QStringLiteral("network-wireless")},
        {QStringLiteral("xmark.circle"), QStringLiteral("process-stop")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("process-stop")},
    };
    return names;
}

// "name.slash" with no drawing of its own in the table: the drawing of "name", struck through.
bool isStruckThrough(const QString& symbol)
{
    return symbol.endsWith(QLatin1String(".slash")) && !table().contains(symbol);
}

QString unstruck(const QString& symbol)
{
    return symbol.chopped(int(qstrlen(".slash")));
}

struct ThemeIcon
{
    QIcon icon;
    bool oneColour = false; // only the theme's "-symbolic" drawing exists
};

ThemeIcon themeIcon(const QString& symbol)
{
    if (isStruckThrough(symbol)) {
        // Only a one-colour drawing can be struck through in its own colour.
        const ThemeIcon base = themeIcon(unstruck(symbol));
        return base.oneColour ? base : ThemeIcon{};
    }
    const QString name = themeIconName(symbol);
    if (name.isEmpty())
        return {};
    // The one-colour drawing first, wherever the theme has it: drawn in the palette's colours it
    // reads like the text beside it in either theme, where full-colour drawings (Adwaita's legacy
    // set among them) come out pale grey, so that working buttons look disabled.
    const QString symbolic = name + QStringLiteral("-symbolic");
    if (QIcon::hasThemeIcon(symbolic))
        return {QIcon::fromTheme(symbolic), true};
    if (QIcon::hasThemeIcon(name))
        return {QIcon::fromTheme(name), false};
    return {};
}

// A one-colour symbol drawn in the application palette's text colour of the moment: themes draw
// their symbolic icons in a fixed dark grey, which vanishes on a dark palette. Widgets repaint
// when the palette changes, and the icon follows.
class PaletteTintedSymbolEngine : public QIconEngine
{
public:
    // Drawn in `role` of the palette, or in `fixed` when it is valid.
    explicit PaletteTintedSymbolEngine(QString symbol,
                                       QPalette::ColorRole role = QPalette::WindowText,
                                       QColor fixed = {})
        : m_symbol(std::move(symbol)), m_role(role), m_fixed(fixed)
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const int side = qMin(rect.width(), rect.height());
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap image = tintedSymbol(m_symbol, side, colour(mode), ratio);
        painter->drawPixmap(
            QRect(0, 0, side, side).translated(rect.center() - QPoint(side / 2, side / 2)), image);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        return tintedSymbol(m_symbol, qMin(size.width(), size.height()), colour(mode));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QIconEngine* clone() const override
    {
        return new PaletteTintedSymbolEngine(m_symbol, m_role, m_fixed);
    }
    QString key() const override { return QStringLiteral("qb.paletteTintedSymbol"); }
    QString iconName() override { return themeIconName(m_symbol) + QStringLiteral("-symbolic"); }
    bool isNull() override { return false; }

private:
    QColor colour(QIcon::Mode mode) const
    {
        const QPalette palette = QGuiApplication::palette();
        switch (mode) {
        case QIcon::Disabled:
            return palette.color(QPalette::Disabled, QPalette::WindowText);
        case QIcon::Selected:
            return palette.color(QPalette::Active, QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active:
            break;
        }
        if (m_fixed.isValid())
            return m_fixed;
        const QColor colour = palette.color(QPalette::Active, m_role);
        if (m_role != QPalette::Highlight)
            return colour;
        // Accent symbols stand in lists; a desktop's dark accent is lightened on a dark list.
        return readableOn(colour, palette.color(QPalette::Active, QPalette::Base), kSymbolContrast);
    }

    QString m_symbol;
    QPalette::ColorRole m_role;
    QColor m_fixed;
};

} // namespace

QString themeIconName(const QString& symbol)
{
    // "a|b": the first that the theme has, in either form.
    const QStringList names = table().value(symbol).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (QIcon::hasThemeIcon(name) || QIcon::hasThemeIcon(name + QStringLiteral("-symbolic")))
            return name;
    }
    return names.value(0);
}

QIcon symbolIcon(const QString& symbol)
{
    ThemeIcon found = themeIcon(symbol);
    if (found.oneColour)
        return QIcon(new PaletteTintedSymbolEngine(symbol));
    return found.icon;
}

QIcon tintedSymbolIcon(const QString& symbol, QPalette::ColorRole role)
{
    if (themeIcon(symbol).icon.isNull())
        return {};
    return QIcon(new PaletteTintedSymbolEngine(symbol, role));
}

QIcon tintedSymbolIcon(const QString& symbol, const QColor& colour)
{
    if (themeIcon(symbol).icon.isNull())
        return {};
    return QIcon(new PaletteTintedSymbolEngine(symbol, QPalette::WindowText, colour));
}

QColor destructiveColour()
{
    // The system red of both the light and the dark palette: readable on either.
    return QColor(255, 59, 48);
}

void installIconThemeFallback()
{
    // Some platform plugins (offscreen among them) search only the resources; add the system's
    // icon folders so the fallback theme is found everywhere.
    QStringList paths = QIcon::themeSearchPaths();
    const QString dataDirs =
        qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString icons = dir + QStringLiteral("/icons");
        if (!paths.contains(icons))
            paths.append(icons);
    }
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QPixmap tintedSymbol(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio)
{
    static QHash<QString, QPixmap> cache;
    const QString key =
        QStringLiteral("%1|%2|%3|%4").arg(symbol).arg(size).arg(color.rgba()).arg(devicePixelRatio);
    const auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return *found;

    QPixmap pixmap;
    if (isStruckThrough(symbol)) {
        pixmap = tintedSymbol(unstruck(symbol), size, color, devicePixelRatio);
        if (!pixmap.isNull()) {
            // A diagonal stroke with a clear gap beside it, so it reads apart from the drawing.
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal width = qMax(1.5, size / 10.0);
            const QLineF stroke(size * 0.15, size * 0.1, size * 0.85, size * 0.9);
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
            painter.setPen(QPen(Qt::transparent, width * 2.6, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(stroke.translated(-width * 0.8, 0));
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(stroke);
        }
    } else if (const QIcon icon = themeIcon(symbol).icon; !icon.isNull()) {
        // Tinting keeps only the shape: themeIcon() gives the one-colour drawing where there is
        // one, as a full-colour icon would turn into a solid blot.
        const QSize pixels = QSize(size, size) * devicePixelRatio;
        QImage image =
            icon.pixmap(pixels).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        image = image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
        painter.end();
        pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(devicePixelRatio);
    }
    if (cache.size() > 256)
        cache.clear();
    cache.insert(key, pixmap);
    return pixmap;
}

} // namespace qb
