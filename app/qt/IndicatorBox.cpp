#include "app/qt/IndicatorBox.h"

namespace quelvar {

IndicatorBox::IndicatorBox(IndicatorColour colour, QWidget* parent)
    : QLabel(parent), m_colour(colour) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setScaledContents(false);
    hide();
}

void IndicatorBox::setVisible(bool visible) {
    // A hidden box is never drawn; the picture is set before the box is shown, so that its
    // first paint has it.
    if (visible && pixmap().isNull()) {
        setPixmap(Resources::indicatorPicture(m_colour));
    }
    QLabel::setVisible(visible);
}

}  // namespace quelvar
