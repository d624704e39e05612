#include "gui/LabeledEdit.h"

#include <QEvent>
#include <QLabel>

namespace {
constexpr int kLabelSpacing = 3;
}

LabeledEdit::LabeledEdit(const QString& caption, LabelPosition position, const QRect& geometry,
                         QWidget* parent)
    : QLineEdit(parent), m_label(new QLabel(caption, parent)), m_position(position)
{
    m_label->setBuddy(this);
    setGeometry(geometry);
    placeLabel();
}

void LabeledEdit::placeLabel()
{
    m_label->adjustSize();
    const QRect edit = geometry();
    const QSize size = m_label->size();
    if (m_position == LabelPosition::Above)
        m_label->move(edit.left(), edit.top() - kLabelSpacing - size.height());
    else
        m_label->move(edit.left() - kLabelSpacing - size.width(),
                      edit.top() + (edit.height() - size.height()) / 2);
}

void LabeledEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        m_label->setEnabled(isEnabled());
    else if (event->type() == QEvent::FontChange)
        placeLabel();
}

void LabeledEdit::moveEvent(QMoveEvent* event)
{
    QLineEdit::moveEvent(event);
    placeLabel();
}

void LabeledEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placeLabel();
}
