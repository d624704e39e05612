#include "core/printer/PrinterProfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

int lineOf(QByteArrayView bytes, qsizetype offset)
{
    offset = qBound(qsizetype(0), offset, bytes.size());
    return int(std::count(bytes.begin(), bytes.begin() + offset, '\n')) + 1;
}

// The line where each object of the top-level "printers" array opens, in order. QJsonDocument
// keeps no positions, so the bytes are walked once more: strings skipped, depth counted.
std::vector<int> entryLines(QByteArrayView bytes)
{
    std::vector<int> lines;
    int depth = 0;
    int line = 1;
    bool inString = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n')
            ++line;
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
            if (c == '{' && depth == 3)
                lines.push_back(line);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return lines;
}

bool isName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'))
            return false;
    }
    return true;
}


// One entry of the array, or the reason it is refused.
std::optional<PrinterProfile> readEntry(const QJsonValue& value, QString& error)
{
    if (!value.isObject()) {
        error = QStringLiteral("a printer is an object { \"name\": ..., ... }");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    static const QStringList known{
        QStringLiteral("name"),           QStringLiteral("title"),      QStringLiteral("pause"),
        QStringLiteral("parks"),          QStringLiteral("lift"),       QStringLiteral("park"),
        QStringLiteral("standby"),        QStringLiteral("prime"),      QStringLiteral("bed"),
        QStringLiteral("minExtrudeTemp"), QStringLiteral("motorsHold"), QStringLiteral("motorsRelease")};
    for (const QString& key : object.keys()) {
        if (!known.contains(key)) {
            error = QStringLiteral("unknown key \"%1\" (known: %2)")
                        .arg(ProfileText::printable(key), known.join(QStringLiteral(", ")));
            return std::nullopt;
        }
    }
    PrinterProfile profile;
    profile.name = object.value(QStringLiteral("name")).toString();
    if (!isName(profile.name)) {
        error = QStringLiteral("\"name\" must be lower-case letters, digits and \"-\"");
        return std::nullopt;
    }
    const auto refuse = [&](const QString& why) {
        error = QStringLiteral("printer \"%1\": %2").arg(profile.name, why);
        return std::nullopt;
    };
    const QJsonValue title = object.value(QStringLiteral("title"));
    profile.title = title.toString();
    if (const QString problem = ProfileText::titleProblem(profile.title); !title.isString() || !problem.isEmpty())
        return refuse(QStringLiteral("\"title\" must be printable text of one line: %1")
                          .arg(title.isString() ? problem : QStringLiteral("it is no text")));
    const QJsonValue pause = object.value(QStringLiteral("pause"));
    profile.pauseLine = pause.toString();
    if (const QString problem = ProfileText::pauseLineProblem(profile.pauseLine);
        !pause.isString() || !problem.isEmpty())
        return refuse(QStringLiteral("\"pause\" must be one printable G-code line: %1")
                          .arg(pause.isString() ? problem : QStringLiteral("it is no text")));
    const QJsonValue parks = object.value(QStringLiteral("parks"));
    if (!parks.isUndefined() && !parks.isBool())
        return refuse(QStringLiteral("\"parks\" must be true or false"));
    profile.parks = parks.toBool(false);

    PauseSettings& settings = profile.defaults;
    if (const QJsonValue lift = object.value(QStringLiteral("lift")); !lift.isUndefined()) {
        if (!lift.isDouble() || !PauseSettings::liftFits(lift.toDouble()))
            return refuse(QStringLiteral("\"lift\" must be a number of mm from 1 to 1000"));
        settings.lift = lift.toDouble();
    }
    if (const QJsonValue park = object.value(QStringLiteral("park")); !park.isUndefined()) {
        const QJsonArray xy = park.toArray();
        if (!park.isArray() || xy.size() != 2 || !xy[0].isDouble() || !xy[1].isDouble() ||
            !PauseSettings::parkFits(xy[0].toDouble()) || !PauseSettings::parkFits(xy[1].toDouble()))
            return refuse(QStringLiteral("\"park\" must be [X, Y] in mm, each from -2000 to 2000"));
        settings.park = PointXY{xy[0].toDouble(), xy[1].toDouble()};
    }
    if (const QJsonValue standby = object.value(QStringLiteral("standby")); !standby.isUndefined()) {
        const double degrees = standby.toDouble(-1);
        if (!standby.isDouble() || !PauseSettings::temperatureFits(degrees))
            return refuse(QStringLiteral("\"standby\" must be whole degrees from 0 to 999"));
        settings.standby = int(degrees);
    }
    if (const QJsonValue prime = object.value(QStringLiteral("prime")); !prime.isUndefined()) {
        if (!prime.isDouble() || !PauseSettings::primeFits(prime.toDouble()))
            return refuse(QStringLiteral("\"prime\" must be a number of mm from 0 to 100"));
        settings.prime = prime.toDouble();
    }
    if (const QJsonValue bed = object.value(QStringLiteral("bed")); !bed.isUndefined()) {
        const QJsonArray box = bed.toArray();
        const bool numbers = bed.isArray() && box.size() == 4 &&
                             std::all_of(box.begin(), box.end(), [](const QJsonValue& v) {
                                 return v.isDouble() && PauseSettings::parkFits(v.toDouble());
                             });
        if (!numbers || !(box[0].toDouble() < box[2].toDouble()) || !(box[1].toDouble() < box[3].toDouble()))
            return refuse(
                QStringLiteral("\"bed\" must be [X0, Y0, X1, Y1] in mm, each from -2000 to 2000, X0 below X1 and Y0 below Y1"));
        profile.bed = BedShape::box(box[0].toDouble(), box[1].toDouble(), box[2].toDouble(),
                                    box[3].toDouble(), QStringLiteral("the printer's bed"));
    }
    if (const QJsonValue limit = object.value(QStringLiteral("minExtrudeTemp")); !limit.isUndefined()) {
        if (!limit.isDouble() || !(limit.toDouble() >= 0) || limit.toDouble() > 999)
            return refuse(QStringLiteral("\"minExtrudeTemp\" must be degrees from 0 to 999"));
        profile.minExtrudeTemp = limit.toDouble();
    }
    for (const auto& [key, target] :
         {std::pair{"motorsHold", &profile.motorsHold}, std::pair{"motorsRelease", &profile.motorsRelease}}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined())
            continue;
        if (const QString problem = ProfileText::pauseLineProblem(value.toString());
            !value.isString() || !problem.isEmpty())
            return refuse(QStringLiteral("\"%1\" must be one printable G-code line: %2")
                              .arg(QLatin1String(key), value.isString() ? problem : QStringLiteral("it is no text")));
        *target = value.toString();
    }
    if (profile.motorsHold.isEmpty() != profile.motorsRelease.isEmpty())
        return refuse(QStringLiteral("\"motorsHold\" and \"motorsRelease\" go together"));
    return profile;
}

// Whether c may stand in a line a firmware reads or a title a terminal shows: no control or
// format character, no separator but the plain space, nothing unassigned or private.
bool isPrintable(char32_t c)
{
    if (c == U' ')
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

// Why text holds a character that is not printable, naming the first; empty when none.
QString unprintable(const QString& text)
{
    for (const char32_t c : text.toUcs4()) {
        if (!isPrintable(c))
            return QStringLiteral("it holds U+%1, which is not printable")
                .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, u'0'));
    }
    return {};
}

} // namespace

namespace ProfileText {

QString pauseLineProblem(const QString& text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("it is empty");
    if (text.trimmed() != text)
        return QStringLiteral("it has leading or trailing blanks");
    if (const QString problem = unprintable(text); !problem.isEmpty())
        return problem;
    if (const qsizetype bytes = text.toUtf8().size(); bytes > kLongestPauseLine)
        return QStringLiteral("it is %1 bytes long, more than the %2 a firmware reads in one line")
            .arg(bytes)
            .arg(kLongestPauseLine);
    return {};
}

QString titleProblem(const QString& text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("it is empty");
    if (const QString problem = unprintable(text); !problem.isEmpty())
        return problem;
    if (text.size() > kLongestTitle)
        return QStringLiteral("it is %1 characters long, more than %2").arg(text.size()).arg(kLongestTitle);
    return {};
}

QString printable(const QString& text)
{
    QString shown;
    for (const char32_t c : text.toUcs4()) {
        if (isPrintable(c))
            shown += QString::fromUcs4(&c, 1);
        else
            shown += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QChar(u'0'));
    }
    return shown;
}

} // namespace ProfileText

QString ProfileProblem::text() const
{
    return QStringLiteral("%1:%2: %3").arg(QDir::toNativeSeparators(path)).arg(line).arg(message);
}

PrinterProfiles::PrinterProfiles()
{
    PrinterProfile borvane;
    borvane.name = QString::fromLatin1(kDefaultName);
    borvane.title = QStringLiteral("Borvane 5");
    borvane.pauseLine = QStringLiteral("M25");
    put(borvane);
}

PrinterProfiles PrinterProfiles::load(const QString& exeFolder)
{
    PrinterProfiles profiles;
    // Without the shipped file (a build not yet installed) the default printer still stands.
    if (const QString shipped = shippedPath(exeFolder); QFileInfo(shipped).isFile())
        profiles.addFile(shipped);
    const QString folder = userFolder();
    if (!folder.isEmpty()) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
            profiles.addFile(dir.filePath(name));
    }
    return profiles;
}

QString PrinterProfiles::shippedPath(const QString& exeFolder)
{
    const QString beside =
        exeFolder + QStringLiteral("TempFile") + QDir::separator() + QString::fromLatin1(kFileName);
    if (QFileInfo(beside).isFile())
        return beside;
    const QString installed = QDir::cleanPath(exeFolder + QStringLiteral(BORVANE_DATA_DIR_FROM_BIN) + u'/' +
                                              QString::fromLatin1(kFileName));
    if (QFileInfo(installed).isFile())
        return QDir::toNativeSeparators(installed);
    return beside;
}

QString PrinterProfiles::userFolder()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return config.isEmpty() ? QString() : config + QStringLiteral("/printers");
}

// The bytes of a regular file of at most PrinterProfiles::kLargestFile bytes; none, with the
// reason, for anything else. A pipe or a device (or a link to one) is never read: a pipe nobody
// writes would wait for ever, and a device like /dev/zero would never end.
static std::optional<QByteArray> readProfileFile(const QString& path, QString& problem)
{
    constexpr qint64 kLimit = PrinterProfiles::kLargestFile;
    const QString notRegular = QStringLiteral("is not a regular file (a pipe, a device or a folder, or a link "
                                              "to one), so it is not read");
    const QString tooLarge =
        QStringLiteral("is larger than %1 MB, more than any profile file needs, so it is not read")
            .arg(kLimit / (1024 * 1024));
    QFile file;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0) {
        problem = QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = notRegular;
        return std::nullopt;
    }
    // Opened without waiting, and looked at again: the name may have changed since.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        problem = notRegular;
        return std::nullopt;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        problem = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
#else
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink() && !QFileInfo(info.symLinkTarget()).isFile()) {
        problem = notRegular;
        return std::nullopt;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
#endif
    if (file.size() > kLimit) {
        problem = tooLarge;
        return std::nullopt;
    }
    QByteArray bytes = file.read(kLimit + 1); // a file that grows meanwhile stops at the limit
    if (bytes.size() > kLimit) {
        problem = tooLarge;
        return std::nullopt;
    }
    return bytes;
}

void PrinterProfiles::addFile(const QString& path)
{
    QString problem;
    const std::optional<QByteArray> bytes = readProfileFile(path, problem);
    if (!bytes) {
        m_problems.append({path, 1, problem});
        return;
    }
    addBytes(*bytes, path);
}

void PrinterProfiles::addBytes(QByteArrayView bytes, const QString& path)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        m_problems.append({path, lineOf(bytes, parseError.offset), parseError.errorString()});
        return;
    }
    const QJsonValue printers = document.object().value(QStringLiteral("printers"));
    if (!document.isObject() || !printers.isArray()) {
        m_problems.append({path, 1, QStringLiteral("expected { \"printers\": [ ... ] }")});
        return;
    }
    const std::vector<int> lines = entryLines(bytes);
    const QJsonArray entries = printers.toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QString error;
        std::optional<PrinterProfile> profile = readEntry(entries[i], error);
        const int line = std::size_t(i) < lines.size() ? lines[std::size_t(i)] : 1;
        if (!profile) {
            m_problems.append({path, line, error});
            continue;
        }
        profile->source = path;
        put(std::move(*profile));
    }
}

void PrinterProfiles::put(PrinterProfile profile)
{
    // Looked up by name, so that loading n profiles takes time in proportion to n.
    if (const auto at = m_byName.constFind(profile.name); at != m_byName.constEnd()) {
        m_profiles[*at] = std::move(profile);
        return;
    }
    m_byName.insert(profile.name, m_profiles.size());
    m_profiles.append(std::move(profile));
}

const PrinterProfile* PrinterProfiles::find(const QString& name) const
{
    const auto at = m_byName.constFind(name);
    return at == m_byName.constEnd() ? nullptr : &m_profiles[*at];
}

QStringList PrinterProfiles::names() const
{
    QStringList names;
    for (const PrinterProfile& profile : m_profiles)
        names.append(profile.name);
    return names;
}
