#include "app/qt/LabeledEdit.h"

#include <QEvent>
#include <QLabel>

namespace quelvar {

LabeledEdit::LabeledEdit(const QString& label, QWidget* parent)
    : QLineEdit(parent), m_label(new QLabel(label, parent)) {
    m_label->setBuddy(this);
    m_label->setTextFormat(Qt::PlainText);
    m_label->installEventFilter(this);
}

void LabeledEdit::moveEvent(QMoveEvent* event) {
    QLineEdit::moveEvent(event);
    placeLabel();
}

void LabeledEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    placeLabel();
}

bool LabeledEdit::eventFilter(QObject* watched, QEvent* event) {
    // The label is first placed when it is polished, before it is first shown, with the font
    // and style it is shown with; a new font or style after that changes its size. Placing it
    // before would polish it early, and every later change of font would lay it out again.
    if (watched == m_label &&
        (event->type() == QEvent::Polish ||
         ((event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) &&
          m_label->testAttribute(Qt::WA_WState_Polished)))) {
        placeLabel();
    }
    return QLineEdit::eventFilter(watched, event);
}

void LabeledEdit::placeLabel() {
    m_label->adjustSize();
    const QRect field = geometry();
    m_label->move(field.x() - kLabelSpacing - m_label->width(),
                  field.y() + (field.height() - m_label->height()) / 2);
}

}  // namespace quelvar
