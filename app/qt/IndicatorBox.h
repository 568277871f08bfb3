#pragma once

#include <QLabel>

#include "app/qt/Resources.h"

namespace quelvar {

// An indicator: a picture box that shows its carried picture at natural size from its top-left
// corner, clipped to the box. It starts hidden, and takes its picture the first time it is
// shown, so that the large pictures are read only once an indicator is to be drawn.
class IndicatorBox : public QLabel {
    Q_OBJECT

public:
    IndicatorBox(IndicatorColour colour, QWidget* parent);

    // Shows or hides the box; shown, it holds its picture.
    void setVisible(bool visible) override;

private:
    IndicatorColour m_colour;
};

}  // namespace quelvar
