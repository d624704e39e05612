#pragma once

#include <QApplication>

#include <exception>

// The application object. An exception that escapes an event handler is shown in the
// standard exception box and the program goes on.
class BorvaneApplication : public QApplication
{
    Q_OBJECT

public:
    BorvaneApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The exception box: the message (with "." appended unless it ends in a character
    // at or below "."), captioned with the program file's name.
    static void showException(const std::exception* exception);
    static QString exceptionText(const QString& message);
    static QString applicationTitle();
};
