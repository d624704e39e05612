#pragma once

// A one-line edit with a caption label beside it. The label is a sibling placed above
// the edit (3 pixels between them, left edges aligned) or left of it (3 pixels away,
// centred on the edit's height); it is enabled and disabled with the edit.

#include <QLineEdit>

class QLabel;

class LabeledEdit : public QLineEdit
{
    Q_OBJECT

public:
    enum class LabelPosition { Above, Left };

    // The label is placed at once: a hidden window gets no move or resize events until it is shown.
    LabeledEdit(const QString& caption, LabelPosition position, const QRect& geometry, QWidget* parent);

    QLabel* label() const { return m_label; }

protected:
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeLabel();

    QLabel* m_label;
    LabelPosition m_position;
};
