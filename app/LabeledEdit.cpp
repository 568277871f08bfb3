#include "app/LabeledEdit.h"

#include <QEvent>
#include <QLabel>

namespace quelvar {

LabeledEdit::LabeledEdit(const QString& label, QWidget* parent)
    : QLineEdit(parent), m_label(new QLabel(label, parent)) {
    m_label->setBuddy(this);
    m_label->setTextFormat(Qt::PlainText);
    m_label->installEventFilter(this);
    placeLabel();
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
    // A new font or style, or the polish before the first show, changes the label's size.
    if (watched == m_label &&
        (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
         event->type() == QEvent::Polish)) {
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
