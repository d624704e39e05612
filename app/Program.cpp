#include "app/Program.h"

#include "core/batch/Batch.h"
#include "gui/BorvaneApplication.h"
#include "gui/Glyphs.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int runWindow(int argc, char** argv, const QString& file)
{
    // The layout is in pixels and is not scaled to the screen's pixel density.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    BorvaneApplication app(argc, argv);
    try {
        BorvaneApplication::setWindowIcon(Glyphs::applicationIcon());
        TEditorForBorvane5_Form1 window;
        window.show();
        if (!file.isEmpty())
            window.OpenPath(file);
        BorvaneApplication::exec();
    } catch (const std::exception& exception) {
        BorvaneApplication::showException(&exception);
    } catch (...) {
        BorvaneApplication::showException(nullptr);
    }
    return 0;
}

} // namespace

int Program::run(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("EditorForBorvane5"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.3"));

    // The arguments decide the kind of application: a batch edit never makes a widget.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Batch::CommandLine commandLine;
    const Batch::Request request = commandLine.parse(arguments);
    if (request.mode == Batch::Mode::Window)
        return runWindow(argc, argv, request.file);

    QCoreApplication app(argc, argv);
    switch (request.mode) {
    case Batch::Mode::Help:
        print(stdout, commandLine.helpText());
        return 0;
    case Batch::Mode::Version:
        print(stdout, Batch::CommandLine::versionText());
        return 0;
    case Batch::Mode::Refused:
        print(stderr, request.reason + QStringLiteral("\nTry --help.\n"));
        return 2;
    default:
        break;
    }
    const Batch::Outcome outcome = Batch::run(request);
    if (!outcome.ok) {
        print(stderr, outcome.error + u'\n');
        return 1;
    }
    for (const Batch::Insertion& insertion : outcome.insertions)
        print(stdout, Batch::describe(insertion) + u'\n');
    return 0;
}
