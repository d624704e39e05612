#include "gui/BorvaneApplication.h"

#include "gui/Dialogs.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

BorvaneApplication::BorvaneApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The window is laid out for Tahoma; Debian's fonts-wine ships a free font of that name.
    for (const char* path : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        if (QFile::exists(QString::fromLatin1(path)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    }
}

bool BorvaneApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& exception) {
        showException(&exception);
    } catch (...) {
        showException(nullptr);
    }
    return false;
}

QString BorvaneApplication::exceptionText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

QString BorvaneApplication::applicationTitle()
{
    const QString fileName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString title = fileName.left(fileName.indexOf(u'.'));
    return title.left(1) + title.mid(1).toLower();
}

void BorvaneApplication::showException(const std::exception* exception)
{
    const QString message = exception ? QString::fromLocal8Bit(exception->what()) : QString();
    Dialogs::ShowCritical(applicationTitle(), exceptionText(message));
}
