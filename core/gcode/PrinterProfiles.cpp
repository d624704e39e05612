#include "core/gcode/PrinterProfiles.h"

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

bool isOneLine(const QString& text)
{
    return !text.trimmed().isEmpty() && !text.contains(u'\n') && !text.contains(u'\r');
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
            error =
                QStringLiteral("unknown key \"%1\" (known: %2)").arg(key, known.join(QStringLiteral(", ")));
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
    profile.title = object.value(QStringLiteral("title")).toString();
    if (!isOneLine(profile.title))
        return refuse(QStringLiteral("\"title\" must be a text of one line"));
    profile.pauseLine = object.value(QStringLiteral("pause")).toString();
    if (!isOneLine(profile.pauseLine) || profile.pauseLine.trimmed() != profile.pauseLine)
        return refuse(QStringLiteral("\"pause\" must be one G-code line without leading or trailing blanks"));
    const QJsonValue parks = object.value(QStringLiteral("parks"));
    if (!parks.isUndefined() && !parks.isBool())
        return refuse(QStringLiteral("\"parks\" must be true or false"));
    profile.parks = parks.toBool(false);

    PauseSettings& settings = profile.defaults;
    if (const QJsonValue lift = object.value(QStringLiteral("lift")); !lift.isUndefined()) {
        if (!lift.isDouble() || !(lift.toDouble() >= PauseSettings::kLeastLift) || lift.toDouble() > 1000)
            return refuse(QStringLiteral("\"lift\" must be a number of mm from 1 to 1000"));
        settings.lift = lift.toDouble();
    }
    if (const QJsonValue park = object.value(QStringLiteral("park")); !park.isUndefined()) {
        const QJsonArray xy = park.toArray();
        if (!park.isArray() || xy.size() != 2 || !xy[0].isDouble() || !xy[1].isDouble())
            return refuse(QStringLiteral("\"park\" must be [X, Y] in mm"));
        settings.park = PointXY{xy[0].toDouble(), xy[1].toDouble()};
    }
    if (const QJsonValue standby = object.value(QStringLiteral("standby")); !standby.isUndefined()) {
        const double degrees = standby.toDouble(-1);
        if (!standby.isDouble() || degrees < 0 || degrees > 999 || std::floor(degrees) != degrees)
            return refuse(QStringLiteral("\"standby\" must be whole degrees from 0 to 999"));
        settings.standby = int(degrees);
    }
    if (const QJsonValue prime = object.value(QStringLiteral("prime")); !prime.isUndefined()) {
        if (!prime.isDouble() || !(prime.toDouble() >= 0) || prime.toDouble() > 100)
            return refuse(QStringLiteral("\"prime\" must be a number of mm from 0 to 100"));
        settings.prime = prime.toDouble();
    }
    if (const QJsonValue bed = object.value(QStringLiteral("bed")); !bed.isUndefined()) {
        const QJsonArray box = bed.toArray();
        const bool numbers =
            bed.isArray() && box.size() == 4 &&
            std::all_of(box.begin(), box.end(), [](const QJsonValue& v) { return v.isDouble(); });
        if (!numbers || !(box[0].toDouble() < box[2].toDouble()) || !(box[1].toDouble() < box[3].toDouble()))
            return refuse(
                QStringLiteral("\"bed\" must be [X0, Y0, X1, Y1] in mm, X0 below X1 and Y0 below Y1"));
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
        if (!value.isString() || !isOneLine(value.toString()) ||
            value.toString().trimmed() != value.toString())
            return refuse(QStringLiteral("\"%1\" must be one G-code line without leading or trailing blanks")
                              .arg(QLatin1String(key)));
        *target = value.toString();
    }
    if (profile.motorsHold.isEmpty() != profile.motorsRelease.isEmpty())
        return refuse(QStringLiteral("\"motorsHold\" and \"motorsRelease\" go together"));
    return profile;
}

} // namespace

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
    m_profiles.append(borvane);
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

void PrinterProfiles::addFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_problems.append({path, 1, QStringLiteral("cannot be read: %1").arg(file.errorString())});
        return;
    }
    addBytes(file.readAll(), path);
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
    for (PrinterProfile& existing : m_profiles) {
        if (existing.name == profile.name) {
            existing = std::move(profile);
            return;
        }
    }
    m_profiles.append(std::move(profile));
}

const PrinterProfile* PrinterProfiles::find(const QString& name) const
{
    for (const PrinterProfile& profile : m_profiles) {
        if (profile.name == name)
            return &profile;
    }
    return nullptr;
}

QStringList PrinterProfiles::names() const
{
    QStringList names;
    for (const PrinterProfile& profile : m_profiles)
        names.append(profile.name);
    return names;
}
