#pragma once

#include <QLineEdit>
#include <QString>

class QLabel;

namespace quelvar {

// A single-line field with a label of its own to its left: the label's width follows its text,
// it sits 3 pixels left of the field and is centred on it vertically.
class LabeledEdit : public QLineEdit {
    Q_OBJECT

public:
    static constexpr int kLabelSpacing = 3;

    // Makes the field and its label, both children of the parent.
    LabeledEdit(const QString& label, QWidget* parent);

    // Returns the field's label.
    QLabel* editLabel() const { return m_label; }
    // Places the label beside the field; the field calls it itself when it moves or changes
    // size while shown.
    void placeLabel();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_label;
};

}  // namespace quelvar
