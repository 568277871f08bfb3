#include "app/qt/ThemeStyle.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabBar>

#include <utility>

namespace quelvar {

namespace {

// The tab bar is 22 pixels high: a tab of 20 with 2 above it, the selected tab the full 22.
constexpr int kTabBarHeight = 22;
constexpr int kTabRise = 2;
// Padding and border to each side of a tab's text, and the gap to the next tab.
constexpr int kTabHorizontalSpace = 2 * 10 + 2 * 1;
constexpr int kTabGap = 2;
// The tab bar starts 2 pixels from the pane's left edge.
constexpr int kTabBarIndent = 2;
// The pane's border and padding around a sheet: left, top, right, bottom. The top border is
// the ruby line under the tabs.
constexpr QMargins kPaneMargins(1 + 3, 2, 3 + 1, 3 + 1);
// A group box's frame starts 6 pixels down; its caption sits 10 pixels in, over the frame's
// top line, with 3 pixels of face to each side.
constexpr int kGroupFrameTop = 6;
constexpr int kGroupCaptionIndent = 10;
constexpr int kGroupCaptionPadding = 3;
constexpr int kCheckIndicatorSize = 13;
constexpr int kCheckLabelSpacing = 5;
// A field's text keeps 3 pixels of padding inside its border.
constexpr int kFieldPadding = 3;
// A tool tip's 1 pixel border and 3 pixels of padding.
constexpr int kToolTipFrame = 4;

QRectF hairline(const QRect& rect) {
    return QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
}

// Fills the rectangle with rounded corners and strokes its border one pixel wide.
void drawRoundedBox(QPainter* painter, const QRect& rect, const QBrush& fill, const QColor& border,
                    qreal radius) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(border);
    painter->setBrush(fill);
    painter->drawRoundedRect(hairline(rect), radius, radius);
    painter->restore();
}

QLinearGradient verticalGradient(const QRect& rect, const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

QPalette paletteOf(const ThemeColours& c) {
    QPalette palette;
    palette.setColor(QPalette::Window, c.face);
    palette.setColor(QPalette::WindowText, c.text);
    palette.setColor(QPalette::Base, c.field);
    palette.setColor(QPalette::AlternateBase, c.readOnlyField);
    palette.setColor(QPalette::Text, c.text);
    palette.setColor(QPalette::PlaceholderText, c.disabledText);
    // The window's background role is the button face, which its labels inherit: their text
    // is the theme's text; a push button draws its own white label.
    palette.setColor(QPalette::Button, c.face);
    palette.setColor(QPalette::ButtonText, c.text);
    palette.setColor(QPalette::BrightText, c.buttonText);
    palette.setColor(QPalette::Light, c.bevelLight);
    palette.setColor(QPalette::Midlight, c.hoverBorder);
    palette.setColor(QPalette::Mid, c.border);
    palette.setColor(QPalette::Dark, c.bevelDark);
    palette.setColor(QPalette::Shadow, c.bevelDark.darker(150));
    palette.setColor(QPalette::Highlight, c.accent);
    palette.setColor(QPalette::HighlightedText, c.buttonText);
    palette.setColor(QPalette::ToolTipBase, c.tipFace);
    palette.setColor(QPalette::ToolTipText, c.tipText);
    palette.setColor(QPalette::Link, c.accentLight);
    palette.setColor(QPalette::LinkVisited, c.accentBright);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, c.disabledText);
    }
    palette.setColor(QPalette::Disabled, QPalette::Highlight, c.border);
    return palette;
}

}  // namespace

ThemeStyle::ThemeStyle(ThemeColours colours)
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))),
      m_colours(std::move(colours)),
      m_palette(paletteOf(m_colours)) {}

QPalette ThemeStyle::standardPalette() const {
    return m_palette;
}

void ThemeStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QTabBar*>(widget)) {
        widget->setAttribute(Qt::WA_Hover, true);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit && edit->isReadOnly()) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Active, QPalette::Text, m_colours.readOnlyText);
        palette.setColor(QPalette::Inactive, QPalette::Text, m_colours.readOnlyText);
        edit->setPalette(palette);
    } else if (qobject_cast<QPlainTextEdit*>(widget)) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Active, QPalette::Text, m_colours.logText);
        palette.setColor(QPalette::Inactive, QPalette::Text, m_colours.logText);
        widget->setPalette(palette);
    }
}

int ThemeStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                            const QWidget* widget) const {
    switch (metric) {
        case PM_DefaultFrameWidth:
            // Fields and log boxes have a one-pixel border.
            if (qobject_cast<const QLineEdit*>(widget) ||
                qobject_cast<const QAbstractScrollArea*>(widget)) {
                return 1;
            }
            break;
        case PM_TabBarTabHSpace:
            return kTabHorizontalSpace + kTabGap;
        case PM_TabBarTabShiftHorizontal:
        case PM_TabBarTabShiftVertical:
        case PM_ButtonShiftHorizontal:
            return 0;
        case PM_ButtonShiftVertical:
            return 1;
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
            return kCheckIndicatorSize;
        case PM_CheckBoxLabelSpacing:
            return kCheckLabelSpacing;
        case PM_ToolTipLabelFrameWidth:
            return kToolTipFrame;
        default:
            break;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QSize ThemeStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                   const QSize& contents, const QWidget* widget) const {
    if (type == CT_TabBarTab) {
        if (const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
            tab && tab->shape == QTabBar::RoundedNorth) {
            // The contents hold the text and the horizontal space already.
            return {contents.width(), kTabBarHeight};
        }
    }
    return QProxyStyle::sizeFromContents(type, option, contents, widget);
}

QRect ThemeStyle::subElementRect(SubElement element, const QStyleOption* option,
                                 const QWidget* widget) const {
    if (element == SE_LineEditContents) {
        return QProxyStyle::subElementRect(element, option, widget)
            .adjusted(kFieldPadding, 0, -kFieldPadding, 0);
    }
    const auto* frame = qstyleoption_cast<const QStyleOptionTabWidgetFrame*>(option);
    if (frame && frame->shape == QTabBar::RoundedNorth) {
        const int barHeight = frame->tabBarSize.height();
        const QRect pane(frame->rect.x(), frame->rect.y() + barHeight, frame->rect.width(),
                         frame->rect.height() - barHeight);
        switch (element) {
            case SE_TabWidgetTabBar: {
                QRect bar = QProxyStyle::subElementRect(element, option, widget);
                bar.moveTop(frame->rect.y());
                bar.translate(kTabBarIndent, 0);
                return bar;
            }
            case SE_TabWidgetTabPane:
                return pane;
            case SE_TabWidgetTabContents:
                return pane.marginsRemoved(kPaneMargins);
            default:
                break;
        }
    }
    return QProxyStyle::subElementRect(element, option, widget);
}

QRect ThemeStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                 SubControl subControl, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control == CC_GroupBox && box && !(box->subControls & SC_GroupBoxCheckBox)) {
        switch (subControl) {
            case SC_GroupBoxFrame:
                return option->rect.adjusted(0, kGroupFrameTop, 0, 0);
            case SC_GroupBoxLabel:
                return {option->rect.x() + kGroupCaptionIndent, option->rect.y(),
                        box->fontMetrics.horizontalAdvance(box->text) + 2 * kGroupCaptionPadding,
                        box->fontMetrics.height()};
            default:
                break;
        }
    }
    return QProxyStyle::subControlRect(control, option, subControl, widget);
}

void ThemeStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    const ThemeColours& c = m_colours;
    const bool enabled = option->state & State_Enabled;
    const bool focus = option->state & State_HasFocus;
    const bool hover = enabled && (option->state & State_MouseOver);
    switch (element) {
        case PE_PanelLineEdit: {
            const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
            if (!frame || frame->lineWidth <= 0) {
                break;
            }
            const bool readOnly = option->state & State_ReadOnly;
            const QColor border = focus   ? (readOnly ? c.accent : c.accentBright)
                                  : hover ? c.hoverBorder
                                          : c.border;
            drawRoundedBox(painter, option->rect, readOnly ? c.readOnlyField : c.field, border, 2);
            return;
        }
        case PE_FrameLineEdit:
            // The panel above draws the border.
            return;
        case PE_Frame:
            if (qobject_cast<const QAbstractScrollArea*>(widget)) {
                drawRoundedBox(painter, option->rect, Qt::NoBrush, focus ? c.accent : c.border, 2);
                return;
            }
            break;
        case PE_FrameTabWidget: {
            painter->save();
            painter->fillRect(option->rect, c.face);
            painter->setPen(c.border);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
            painter->fillRect(option->rect.x(), option->rect.y(), option->rect.width(),
                              kPaneMargins.top(), c.accent);
            painter->restore();
            return;
        }
        case PE_IndicatorCheckBox: {
            const bool checked = option->state & State_On;
            QColor fill;
            QColor border;
            if (checked) {
                fill = enabled ? c.accentBright : c.accentDark;
                border = enabled ? c.accentLight : c.accentDark.lighter(125);
            } else {
                fill = enabled ? c.field : c.groupFace;
                border = !enabled ? c.border : hover ? c.accentBright : c.hoverBorder;
            }
            drawRoundedBox(painter, option->rect, fill, border, 2);
            return;
        }
        case PE_FrameFocusRect:
            // A focused check box shows white text, a focused tab an underlined one.
            if (qobject_cast<const QCheckBox*>(widget) || qobject_cast<const QTabBar*>(widget)) {
                return;
            }
            break;
        case PE_PanelButtonCommand: {
            const bool sunken = option->state & (State_Sunken | State_On);
            const QRect& r = option->rect;
            if (!enabled) {
                drawRoundedBox(painter, r, c.tab, c.border, 3);
            } else if (sunken) {
                drawRoundedBox(painter, r, c.accentDark, c.buttonBorder, 3);
            } else if (hover) {
                drawRoundedBox(painter, r, verticalGradient(r, c.accentBright, c.accent),
                               c.buttonBorder, 3);
            } else {
                drawRoundedBox(painter, r, verticalGradient(r, c.buttonTop, c.buttonBottom),
                               c.buttonBorder, 3);
            }
            return;
        }
        case PE_PanelTipLabel:
            painter->save();
            painter->fillRect(option->rect, c.tipFace);
            painter->setPen(c.accent);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
            painter->restore();
            return;
        default:
            break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void ThemeStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const {
    const ThemeColours& c = m_colours;
    const bool enabled = option->state & State_Enabled;
    const bool hover = enabled && (option->state & State_MouseOver);
    switch (element) {
        case CE_TabBarTabShape: {
            const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
            if (!tab || tab->shape != QTabBar::RoundedNorth) {
                break;
            }
            const bool selected = option->state & State_Selected;
            const QRect shape = option->rect.adjusted(0, selected ? 0 : kTabRise, -kTabGap, 0);
            painter->save();
            // Rounded at the top only: the box goes on below the shape and is cut off there.
            painter->setClipRect(shape);
            drawRoundedBox(painter, shape.adjusted(0, 0, 0, 4),
                           selected ? c.accent
                           : hover  ? c.tab.lighter(118)
                                    : c.tab,
                           selected ? c.accentBright : c.border, 3);
            painter->restore();
            return;
        }
        case CE_TabBarTabLabel: {
            const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
            if (!tab || tab->shape != QTabBar::RoundedNorth) {
                break;
            }
            const bool selected = option->state & State_Selected;
            QStyleOptionTab label(*tab);
            label.rect.adjust(0, selected ? 0 : kTabRise, -kTabGap, 0);
            label.palette.setColor(QPalette::WindowText, selected ? c.buttonText
                                                         : hover  ? c.text
                                                                  : c.tabText);
            label.palette.setColor(QPalette::Disabled, QPalette::WindowText, c.disabledText);
            painter->save();
            if (option->state & State_HasFocus) {
                QFont font = painter->font();
                font.setUnderline(true);
                painter->setFont(font);
                label.state &= ~State_HasFocus;
            }
            QProxyStyle::drawControl(element, &label, painter, widget);
            painter->restore();
            return;
        }
        case CE_PushButtonLabel: {
            const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            if (!button) {
                break;
            }
            QStyleOptionButton label(*button);
            label.palette.setColor(QPalette::ButtonText, c.buttonText);
            label.palette.setColor(QPalette::Disabled, QPalette::ButtonText, c.disabledText);
            QProxyStyle::drawControl(element, &label, painter, widget);
            return;
        }
        case CE_CheckBoxLabel: {
            const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            if (!button || !(option->state & State_HasFocus)) {
                break;
            }
            QStyleOptionButton label(*button);
            label.palette.setColor(QPalette::WindowText, c.buttonText);
            QProxyStyle::drawControl(element, &label, painter, widget);
            return;
        }
        default:
            break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void ThemeStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control == CC_GroupBox && box && !(box->subControls & SC_GroupBoxCheckBox)) {
        const ThemeColours& c = m_colours;
        if (box->subControls & SC_GroupBoxFrame) {
            drawRoundedBox(painter, subControlRect(control, option, SC_GroupBoxFrame, widget),
                           c.groupFace, c.border, 3);
        }
        if ((box->subControls & SC_GroupBoxLabel) && !box->text.isEmpty()) {
            const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
            painter->save();
            painter->fillRect(caption, c.face);
            painter->setPen((option->state & State_Enabled) ? c.accentLight : c.disabledText);
            painter->drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, box->text);
            painter->restore();
        }
        return;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

}  // namespace quelvar
