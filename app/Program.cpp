#include "app/Program.h"

#include "app/CommandLine.h"
#include "core/batch/Batch.h"
#include "core/gcode/PrinterProfiles.h"
#include "core/system/ProcessMemory.h"
#include "core/text/PathBytes.h"
#include "core/text/Utility.h"
#include "gui/BorvaneApplication.h"
#include "gui/Glyphs.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(PathBytes::shown(text).toLocal8Bit().constData(), stream);
}

const char* const kBatchWorksWithoutDisplay = " The batch options work without one: see --help.\n";

// Whether a display may be there to show the window on: Qt ends the program with an abort
// (status 134) when its platform finds none, so say so before that, in one line.
bool displayNamed()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && !defined(Q_OS_ANDROID)
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return false;
#else
    return true;
#endif
}

QtMessageHandler g_qtMessages = nullptr;

// While the application connects to the display: a display that is named but cannot be
// reached (a stale DISPLAY) ends in a fatal message; end with the same advice instead.
void endWithoutDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        g_qtMessages(type, context, message);
        return;
    }
    print(stderr, QStringLiteral("The window needs a display, and none could be reached.") +
                      QString::fromLatin1(kBatchWorksWithoutDisplay));
    std::fflush(stderr);
    std::_Exit(1);
}

int runWindow(int argc, char** argv, const QString& file)
{
    if (!displayNamed()) {
        print(stderr,
              QStringLiteral("The window needs a display, and none is set (DISPLAY, WAYLAND_DISPLAY).") +
                  QString::fromLatin1(kBatchWorksWithoutDisplay));
        return 1;
    }
    // The layout is in pixels and is not scaled to the screen's pixel density.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    g_qtMessages = qInstallMessageHandler(endWithoutDisplay);
    BorvaneApplication app(argc, argv);
    qInstallMessageHandler(g_qtMessages);
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

// The edit without a window: "-" stands for standard input and output; the report goes to
// standard error when the edited file goes to standard output.
int runBatch(const CommandLine::Parsed& parsed)
{
    QFile in;
    QFile out;
    // Output unbuffered: a failing write (a full disk, a closed pipe) shows at once, not at a late
    // flush. Input buffered: the reader gives back what it read past a stream's header.
    if (!in.open(fileno(stdin), QIODevice::ReadOnly) ||
        !out.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        print(stderr, QStringLiteral("Cannot use standard input and output.\n"));
        return 1;
    }
    const Batch::Outcome outcome = Batch::run(parsed.request, {&in, &out});
    if (!outcome.ok) {
        print(stderr, outcome.error + u'\n');
        return 1;
    }
    // What a pause block left out or chose: to standard error, as the window notes it.
    for (const Batch::Insertion& insertion : outcome.insertions) {
        for (const QString& note : insertion.notes)
            print(stderr, QStringLiteral("Note: input row %1: %2.\n").arg(insertion.inputRow).arg(note));
    }
    std::FILE* report = outcome.outputPath == Batch::kStandardStream ? stderr : stdout;
    if (parsed.json) {
        const QByteArray json = QJsonDocument(Batch::toJson(outcome)).toJson(QJsonDocument::Indented);
        std::fwrite(json.constData(), 1, std::size_t(json.size()), report);
    } else {
        for (const Batch::ListedHollow& hollow : outcome.hollows.value_or(QList<Batch::ListedHollow>{}))
            print(report, Batch::describe(hollow) + u'\n');
        for (const Batch::Insertion& insertion : outcome.insertions)
            print(report, Batch::describe(insertion).join(u'\n') + u'\n');
    }
    return std::fflush(report) == 0 ? 0 : 1;
}

} // namespace

int Program::run(int argc, char** argv)
{
    ProcessMemory::returnLargeBlocksAtOnce();
    QCoreApplication::setApplicationName(QStringLiteral("EditorForBorvane5"));
    QCoreApplication::setApplicationVersion(CommandLine::version());

    // The arguments decide the kind of application: a batch edit never makes a widget.
    // A file name is bytes: one that is no UTF-8 (a Latin-1 "lat\xe9n.gcode") keeps them, where
    // QCoreApplication::arguments() would turn them into U+FFFD and name no file.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
#ifdef Q_OS_UNIX
        arguments << PathBytes::fromBytes(argv[i]);
#else
        arguments << QString::fromLocal8Bit(argv[i]);
#endif
    }
    CommandLine commandLine;
    const CommandLine::Parsed parsed = commandLine.parse(arguments);
    if (parsed.mode == CommandLine::Mode::Window)
        return runWindow(argc, argv, parsed.file);

    QCoreApplication app(argc, argv);
    switch (parsed.mode) {
    case CommandLine::Mode::Help:
        print(stdout, commandLine.helpText());
        return 0;
    case CommandLine::Mode::Version:
        print(stdout, CommandLine::versionText());
        return 0;
    case CommandLine::Mode::Refused:
        print(stderr, parsed.reason + QStringLiteral("\nTry --help.\n"));
        return 2;
    default:
        break;
    }
    // The printers: the shipped ones and the user's own, as the window has them.
    const PrinterProfiles printers = PrinterProfiles::load(Utility::ExeFolder());
    for (const ProfileProblem& problem : printers.problems())
        print(stderr, QStringLiteral("Printer profiles: ") + problem.text() + u'\n');
    if (parsed.mode == CommandLine::Mode::ListPrinters) {
        for (const PrinterProfile& printer : printers.profiles())
            print(stdout, printer.name + u'\t' + printer.title + u'\n');
        return 0;
    }
    const PrinterProfile* printer = printers.find(parsed.printer);
    if (!printer) {
        print(stderr, QStringLiteral(
                          "--printer \"%1\" is not a printer; the printers are: %2.\nTry --list-printers.\n")
                          .arg(parsed.printer, printers.names().join(QStringLiteral(", "))));
        return 2;
    }
    CommandLine::Parsed edit = parsed;
    edit.request.printer = *printer;
    PauseSettings& settings = edit.request.pauseSettings;
    settings = printer->defaults;
    if (parsed.lift)
        settings.lift = *parsed.lift;
    if (parsed.park)
        settings.park = parsed.park;
    if (parsed.standby)
        settings.standby = parsed.standby;
    return runBatch(edit);
}
