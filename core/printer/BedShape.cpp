#include "core/printer/BedShape.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <string>

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::optional<double> number(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "0x0,250x0,250x210,0x210": corners as XxY, comma-separated.
std::optional<std::vector<PointXY>> cornersOf(std::string_view text)
{
    std::vector<PointXY> points;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view pair = text.substr(0, comma);
        const std::size_t x = pair.find('x');
        if (x == std::string_view::npos)
            return std::nullopt;
        const std::optional<double> px = number(pair.substr(0, x));
        const std::optional<double> py = number(pair.substr(x + 1));
        if (!px || !py)
            return std::nullopt;
        points.push_back({*px, *py});
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return points;
}

double area(const std::vector<PointXY>& points)
{
    double twice = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const PointXY& a = points[i];
        const PointXY& b = points[(i + 1) % points.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::abs(twice) / 2;
}

// The settings the comments give, by name, as the text after the name's separator.
struct Settings
{
    std::map<std::string, std::string, std::less<>> values;

    void add(std::string_view name, std::string_view value)
    {
        values.try_emplace(std::string(name), std::string(trimmed(value)));
    }
    std::optional<std::string_view> text(std::string_view name) const
    {
        const auto found = values.find(name);
        return found == values.end() ? std::nullopt : std::optional<std::string_view>(found->second);
    }
    std::optional<double> value(std::string_view name) const
    {
        const std::optional<std::string_view> found = text(name);
        return found ? number(*found) : std::nullopt;
    }
};

// Cura's ;SETTING_3 lines hold the changed settings as text with "\\n" between them.
void readCuraSettings(std::string_view text, Settings& settings)
{
    for (const char* name : {"machine_width", "machine_depth", "machine_center_is_zero"}) {
        const std::string key = std::string(name) + " = ";
        const std::size_t at = text.find(key);
        if (at == std::string_view::npos)
            continue;
        std::string_view value = text.substr(at + key.size());
        value = value.substr(0, std::min(value.find('\\'), value.size()));
        settings.add(std::string("cura:") + name, value);
    }
}

void readLine(std::string_view line, Settings& settings)
{
    line = trimmed(line);
    if (line.empty() || line.front() != ';')
        return;
    line.remove_prefix(1);
    if (line.substr(0, 9) == "SETTING_3") {
        readCuraSettings(line, settings);
        return;
    }
    if (line.substr(0, 10) == "Dimension:") {
        settings.add("ideamaker:Dimension", line.substr(10));
        return;
    }
    line = trimmed(line);
    // "name = value" (PrusaSlicer, BambuStudio, KISSlicer) or "name,value" (Simplify3D).
    const std::size_t equals = line.find(" = ");
    if (equals != std::string_view::npos) {
        settings.add(trimmed(line.substr(0, equals)), line.substr(equals + 3));
        return;
    }
    const std::size_t comma = line.find(',');
    if (comma != std::string_view::npos && comma > 0 &&
        line.substr(0, comma).find(' ') == std::string_view::npos)
        settings.add(std::string("s3d:") + std::string(line.substr(0, comma)), line.substr(comma + 1));
}

void readLines(std::string_view text, Settings& settings)
{
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        readLine(text.substr(0, end), settings);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

} // namespace

double BedShape::minX() const
{
    double v = corners.front().x;
    for (const PointXY& p : corners)
        v = std::min(v, p.x);
    return v;
}

double BedShape::maxX() const
{
    double v = corners.front().x;
    for (const PointXY& p : corners)
        v = std::max(v, p.x);
    return v;
}

double BedShape::minY() const
{
    double v = corners.front().y;
    for (const PointXY& p : corners)
        v = std::min(v, p.y);
    return v;
}

double BedShape::maxY() const
{
    double v = corners.front().y;
    for (const PointXY& p : corners)
        v = std::max(v, p.y);
    return v;
}

bool BedShape::holds(PointXY p, double margin) const
{
    bool inside = false;
    for (std::size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
        const PointXY& a = corners[i];
        const PointXY& b = corners[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
            inside = !inside;
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double length2 = dx * dx + dy * dy;
        const double t =
            length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0.0;
        if (std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy)) < margin)
            return false;
    }
    return inside;
}

BedShape BedShape::box(double x0, double y0, double x1, double y1, const QString& source)
{
    BedShape bed;
    bed.corners = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    bed.source = source;
    return bed;
}

std::optional<BedShape> BedShape::fromFile(std::string_view bytes)
{
    Settings settings;
    if (bytes.size() <= 2 * kScanBytes) {
        readLines(bytes, settings);
    } else {
        // Whole lines only: the head up to its last break, the tail from its first.
        std::string_view head = bytes.substr(0, kScanBytes);
        head = head.substr(0, head.find_last_of('\n') + 1);
        std::string_view tail = bytes.substr(bytes.size() - kScanBytes);
        tail.remove_prefix(std::min(tail.size(), tail.find('\n') + 1));
        readLines(head, settings);
        readLines(tail, settings);
    }
    const auto checked = [](BedShape bed) -> std::optional<BedShape> {
        if (bed.corners.size() < 3 || !(area(bed.corners) > 0.0))
            return std::nullopt;
        return bed;
    };
    for (const char* name : {"bed_shape", "printable_area"}) {
        if (const std::optional<std::string_view> text = settings.text(name)) {
            if (const std::optional<std::vector<PointXY>> points = cornersOf(*text)) {
                BedShape bed;
                bed.corners = *points;
                bed.source = QStringLiteral("the file's %1").arg(QLatin1String(name));
                return checked(bed);
            }
        }
    }
    for (const char* form : {"stroke%1override", "buildVolume%1override", "buildVolume%1"}) {
        const auto key = [&](const char* axis) {
            return QString::fromLatin1(form)
                .arg(QLatin1String(axis))
                .prepend(QStringLiteral("s3d:"))
                .toStdString();
        };
        const std::optional<double> sizeX = settings.value(key("X"));
        const std::optional<double> sizeY = settings.value(key("Y"));
        if (!sizeX || !sizeY)
            continue;
        const double ox = settings.value("s3d:originOffsetXoverride")
                              .value_or(settings.value("s3d:originOffsetX").value_or(0.0));
        const double oy = settings.value("s3d:originOffsetYoverride")
                              .value_or(settings.value("s3d:originOffsetY").value_or(0.0));
        return checked(box(-ox, -oy, *sizeX - ox, *sizeY - oy,
                           QStringLiteral("the file's %1").arg(QString::fromStdString(key("X").substr(4)))));
    }
    if (const auto x = settings.value("bed_size_x_mm"), y = settings.value("bed_size_y_mm"); x && y) {
        const double cx = settings.value("bed_offset_x_mm").value_or(0.0);
        const double cy = settings.value("bed_offset_y_mm").value_or(0.0);
        return checked(box(cx - *x / 2, cy - *y / 2, cx + *x / 2, cy + *y / 2,
                           QStringLiteral("the file's bed_size_x_mm")));
    }
    if (const std::optional<std::string_view> dimension = settings.text("ideamaker:Dimension")) {
        std::string_view text = trimmed(*dimension);
        const std::size_t blank = text.find(' ');
        const std::optional<double> x = number(text.substr(0, blank));
        const std::optional<double> y =
            blank == std::string_view::npos
                ? std::nullopt
                : number(
                      trimmed(text.substr(blank + 1)).substr(0, trimmed(text.substr(blank + 1)).find(' ')));
        if (x && y)
            return checked(box(0, 0, *x, *y, QStringLiteral("the file's Dimension")));
    }
    if (const auto x = settings.value("cura:machine_width"), y = settings.value("cura:machine_depth");
        x && y) {
        const std::optional<std::string_view> centred = settings.text("cura:machine_center_is_zero");
        const bool centre = centred && (*centred == "True" || *centred == "true");
        return checked(centre
                           ? box(-*x / 2, -*y / 2, *x / 2, *y / 2, QStringLiteral("the file's machine_width"))
                           : box(0, 0, *x, *y, QStringLiteral("the file's machine_width")));
    }
    return std::nullopt;
}
