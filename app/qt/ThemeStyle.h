#pragma once

#include <QPalette>
#include <QProxyStyle>

#include "app/qt/ThemeColours.h"

namespace quelvar {

// Draws a theme's colours over Fusion, without a style sheet: the palette gives faces, fields
// and texts, and the few controls whose look the palette cannot carry (tabs and their pane,
// group box captions, buttons, check boxes, field and log box borders, tool tips) are drawn
// here. Every size stays Fusion's except the tab bar's, so that the window's layout is kept.
class ThemeStyle : public QProxyStyle {
    Q_OBJECT

public:
    // Makes the style over Fusion (or the default style when Fusion is missing).
    explicit ThemeStyle(ThemeColours colours);

    // Returns the theme's colours.
    const ThemeColours& colours() const { return m_colours; }

    QPalette standardPalette() const override;
    void polish(QWidget* widget) override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget = nullptr) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;

private:
    ThemeColours m_colours;
    QPalette m_palette;
};

}  // namespace quelvar
