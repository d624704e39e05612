#include "app/Program.h"

#include "app/CommandLine.h"
#include "core/batch/Batch.h"
#include "core/printer/PrinterProfiles.h"
#include "core/system/ProcessMemory.h"
#include "core/text/PathBytes.h"
#include "core/text/Utility.h"
#include "gui/BorvaneApplication.h"
#include "gui/Glyphs.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

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

// The standard streams the program was started without. Each one closed is opened on the null
// device at once, so that no file the program opens takes its number (and a report printed to a
// closed standard output never lands in the edited file); what goes to it is then known lost.
struct ClosedStreams
{
    bool in = false, out = false;
};

ClosedStreams fillClosedStreams()
{
    ClosedStreams closed;
#ifdef Q_OS_UNIX
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
        if (fd == STDIN_FILENO)
            closed.in = true;
        else if (fd == STDOUT_FILENO)
            closed.out = true;
    }
    // A reader that went away makes a write fail with EPIPE, told like any other failed write,
    // instead of ending the program by a signal after the file was written.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return closed;
}

ClosedStreams g_closed;

// Writes text to standard output; the reason when it could not be written there whole.
QString printToStandardOutput(const QByteArray& text)
{
    if (text.isEmpty())
        return {}; // nothing to lose
    if (g_closed.out)
        return QStringLiteral("it is closed");
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return {};
    return errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("a write failed");
}

// The edit without a window: "-" stands for standard input and output; the report goes to
// standard error when the edited file goes to standard output. The status tells what became of
// the file: 0 when it was written, even when the report could not be (a warning on standard
// error says so); 1 when nothing was written.
int runBatch(const CommandLine::Parsed& parsed)
{
    const bool toStandardOutput = !parsed.request.inPlace && parsed.request.output == Batch::kStandardStream;
    if (toStandardOutput && g_closed.out) {
        print(stderr, QStringLiteral("Cannot write to standard output: it is closed.\n"));
        return 1;
    }
    QFile in;
    QFile out;
    // Output unbuffered: a failing write (a full disk, a closed pipe) shows at once, not at a late
    // flush. Input buffered: the reader gives back what it read past a stream's header.
    if (!in.open(fileno(stdin), QIODevice::ReadOnly) ||
        !out.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        print(stderr, QStringLiteral("Cannot use standard input and output.\n"));
        return 1;
    }
    const Batch::Outcome outcome = Batch::run(parsed.request, {g_closed.in ? nullptr : &in, &out});
    if (!outcome.ok) {
        print(stderr, outcome.error + u'\n');
        return 1;
    }
    // What a pause block left out or chose: to standard error, as the window notes it.
    for (const Batch::Insertion& insertion : outcome.insertions) {
        for (const QString& note : insertion.notes)
            print(stderr, QStringLiteral("Note: input row %1: %2.\n").arg(insertion.inputRow).arg(note));
    }
    QByteArray report;
    if (parsed.json) {
        report = QJsonDocument(Batch::toJson(outcome)).toJson(QJsonDocument::Indented);
    } else {
        QString lines;
        for (const Batch::ListedHollow& hollow : outcome.hollows.value_or(QList<Batch::ListedHollow>{}))
            lines += Batch::describe(hollow) + u'\n';
        for (const Batch::Insertion& insertion : outcome.insertions)
            lines += Batch::describe(insertion).join(u'\n') + u'\n';
        report = PathBytes::shown(lines).toLocal8Bit();
    }
    if (outcome.outputPath == Batch::kStandardStream) {
        std::fwrite(report.constData(), 1, std::size_t(report.size()), stderr);
        std::fflush(stderr);
        return 0;
    }
    const QString problem = printToStandardOutput(report);
    if (problem.isEmpty())
        return 0;
    if (outcome.written) {
        print(stderr, QStringLiteral("Warning: %1 was written, but its report could not be written to "
                                     "standard output: %2.\n")
                          .arg(PathBytes::shown(outcome.outputPath), problem));
        return 0;
    }
    print(stderr, QStringLiteral("Cannot write the report to standard output: %1. Nothing was written.\n")
                      .arg(problem));
    return 1;
}

// Help, version and the printers' list: the text is all they make, so a text that could not be
// written is a failure.
int printResult(const QString& text)
{
    const QString problem = printToStandardOutput(PathBytes::shown(text).toLocal8Bit());
    if (problem.isEmpty())
        return 0;
    print(stderr, QStringLiteral("Cannot write to standard output: %1.\n").arg(problem));
    return 1;
}

} // namespace

int Program::run(int argc, char** argv)
{
    ProcessMemory::returnLargeBlocksAtOnce();
    g_closed = fillClosedStreams();
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
        return printResult(commandLine.helpText());
    case CommandLine::Mode::Version:
        return printResult(CommandLine::versionText());
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
        QString list;
        for (const PrinterProfile& printer : printers.profiles())
            list += printer.name + u'\t' + printer.title + u'\n';
        return printResult(list);
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
