#pragma once

#include <QObject>

// Refuses characters other than 0 to 9 typed from the keyboard into the edit it is
// installed on. Editing keys, shortcuts and pasted text pass.
class DigitsOnlyFilter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
