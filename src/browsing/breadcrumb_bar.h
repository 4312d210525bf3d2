#pragma once

#include "browsing/file_browser_view_model.h"

#include <QList>
#include <QScrollArea>

class QHBoxLayout;
class QToolButton;

namespace qb {

// The trail from the storage root to the folder shown, as crumbs separated by chevrons in a
// strip that scrolls sideways. Every crumb but the last is a button reporting its position.
// Names are shown whole: a trail wider than the bar scrolls instead.
class BreadcrumbBar : public QScrollArea
{
    Q_OBJECT

public:
    explicit BreadcrumbBar(QWidget* parent = nullptr);

    void setBreadcrumbs(const QList<FileBrowserViewModel::Breadcrumb>& crumbs);
    // The crumb buttons, in order (tests and accessibility).
    QList<QToolButton*> crumbButtons() const { return m_buttons; }

signals:
    void tapped(qsizetype index);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Crumbs in the link colour, the last one as plain text, in the colours of the palette now.
    void colourCrumbs();

    QWidget* m_strip;
    QHBoxLayout* m_layout;
    QList<QToolButton*> m_buttons;
};

} // namespace qb
