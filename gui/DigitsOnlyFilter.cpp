#include "gui/DigitsOnlyFilter.h"

#include <QKeyEvent>

bool DigitsOnlyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers shortcutModifiers =
            Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        const QString text = key->text();
        if (!(key->modifiers() & shortcutModifiers) && !text.isEmpty() && text.front().isPrint()) {
            for (const QChar c : text) {
                if (c < u'0' || c > u'9')
                    return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
