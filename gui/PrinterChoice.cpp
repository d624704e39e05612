#include "gui/PrinterChoice.h"

#include "core/printer/PauseBlock.h"
#include "core/text/Utility.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QToolButton>

#include <memory>

namespace {

std::unique_ptr<QSettings> store()
{
    return std::make_unique<QSettings>(PrinterChoice::settingsPath(), QSettings::IniFormat);
}

QString key(const PrinterProfile& profile, const char* name)
{
    return QStringLiteral("pause-%1/%2").arg(profile.name, QLatin1String(name));
}

// Lift, park position, standby temperature and prime for one printer.
class PauseSettingsDialog : public QDialog
{
public:
    PauseSettingsDialog(const PrinterProfile& profile, const PauseSettings& settings, QWidget* parent,
                        const QString& why = QString())
        : QDialog(parent)
    {
        setObjectName(QStringLiteral("PauseSettingsDialog"));
        setWindowTitle(QStringLiteral("Pause settings: %1").arg(profile.title));
        auto* form = new QFormLayout(this);
        if (!why.isEmpty()) {
            auto* reason = new QLabel(why);
            reason->setObjectName(QStringLiteral("parkReason"));
            reason->setWordWrap(true);
            form->addRow(reason);
        }
        m_lift =
            spin(form, "lift", QStringLiteral("Lift (mm)"), PauseSettings::kLeastLift, PauseSettings::kMostLift,
                 settings.lift);
        m_park =
            new QCheckBox(QStringLiteral("Park at X, Y (else the visited position farthest from the print)"));
        m_park->setObjectName(QStringLiteral("park"));
        m_park->setChecked(settings.park.has_value());
        form->addRow(m_park);
        m_parkX = spin(form, "parkX", QStringLiteral("Park X (mm)"), -PauseSettings::kParkLimit,
                       PauseSettings::kParkLimit, settings.park ? settings.park->x : 0);
        m_parkY = spin(form, "parkY", QStringLiteral("Park Y (mm)"), -PauseSettings::kParkLimit,
                       PauseSettings::kParkLimit, settings.park ? settings.park->y : 0);
        m_standby = new QCheckBox(QStringLiteral("Standby nozzle temperature while paused"));
        m_standby->setObjectName(QStringLiteral("standby"));
        m_standby->setChecked(settings.standby.has_value());
        form->addRow(m_standby);
        m_standbyDegrees = new QSpinBox;
        m_standbyDegrees->setObjectName(QStringLiteral("standbyDegrees"));
        m_standbyDegrees->setRange(0, PauseSettings::kMostTemperature);
        m_standbyDegrees->setValue(settings.standby.value_or(150));
        form->addRow(QStringLiteral("Standby (\u00B0C)"), m_standbyDegrees);
        m_prime =
            spin(form, "prime", QStringLiteral("Prime at the park on resume (mm)"), 0, PauseSettings::kMostPrime,
                 settings.prime);
        // A position or a temperature is edited only while its box is ticked: unticked, it is not used.
        const auto follow = [this] {
            m_parkX->setEnabled(m_park->isEnabled() && m_park->isChecked());
            m_parkY->setEnabled(m_park->isEnabled() && m_park->isChecked());
            m_standbyDegrees->setEnabled(m_standby->isEnabled() && m_standby->isChecked());
        };
        connect(m_park, &QCheckBox::toggled, this, follow);
        connect(m_standby, &QCheckBox::toggled, this, follow);
        follow();
        if (!profile.parks) {
            for (QWidget* widget : {static_cast<QWidget*>(m_lift), static_cast<QWidget*>(m_park),
                                    static_cast<QWidget*>(m_parkX), static_cast<QWidget*>(m_parkY),
                                    static_cast<QWidget*>(m_standby), static_cast<QWidget*>(m_standbyDegrees),
                                    static_cast<QWidget*>(m_prime)})
                widget->setEnabled(false);
            form->addRow(new QLabel(QStringLiteral("%1 pauses with %2 alone; the firmware parks.")
                                        .arg(profile.title, PauseBlocks::commandWord(profile.pauseLine))));
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        form->addRow(buttons);
    }

    PauseSettings settings() const
    {
        PauseSettings settings;
        settings.lift = m_lift->value();
        if (m_park->isChecked())
            settings.park = PointXY{m_parkX->value(), m_parkY->value()};
        if (m_standby->isChecked())
            settings.standby = m_standbyDegrees->value();
        settings.prime = m_prime->value();
        return settings;
    }

private:
    static QDoubleSpinBox* spin(QFormLayout* form, const char* name, const QString& label, double low,
                                double high, double value)
    {
        auto* box = new QDoubleSpinBox;
        box->setObjectName(QLatin1String(name));
        box->setDecimals(3);
        box->setRange(low, high);
        box->setValue(value);
        form->addRow(label, box);
        return box;
    }

    QDoubleSpinBox* m_lift = nullptr;
    QCheckBox* m_park = nullptr;
    QDoubleSpinBox* m_parkX = nullptr;
    QDoubleSpinBox* m_parkY = nullptr;
    QCheckBox* m_standby = nullptr;
    QSpinBox* m_standbyDegrees = nullptr;
    QDoubleSpinBox* m_prime = nullptr;
};

} // namespace

PrinterChoice::PrinterChoice(QWidget* parent, const QRect& geometry, QPushButton* pauseButton)
    : QObject(parent), m_profiles(PrinterProfiles::load(Utility::ExeFolder())), m_pauseButton(pauseButton)
{
    m_combo = new QComboBox(parent);
    m_combo->setObjectName(QStringLiteral("cboxPrinter"));
    m_combo->setToolTip(QStringLiteral("Printer: what the pause button inserts"));
    m_combo->setGeometry(geometry.adjusted(0, 0, -geometry.height() - 2, 0));
    for (const PrinterProfile& profile : m_profiles.profiles())
        m_combo->addItem(profile.title, profile.name);
    // Its caption above it, which Alt+P goes to the list by.
    m_label = new QLabel(QStringLiteral("&Printer"), parent);
    m_label->setObjectName(QStringLiteral("lblPrinter"));
    m_label->setBuddy(m_combo);
    m_label->adjustSize();
    m_label->move(geometry.left(), geometry.top() - m_label->height());
    m_settingsButton = new QToolButton(parent);
    m_settingsButton->setObjectName(QStringLiteral("sbtnPauseSettings"));
    m_settingsButton->setText(QStringLiteral("\u2026"));
    m_settingsButton->setToolTip(QStringLiteral("Pause settings: lift, park position, standby temperature"));
    m_settingsButton->setGeometry(geometry.right() - geometry.height() + 1, geometry.top(), geometry.height(),
                                  geometry.height());

    const QString remembered =
        store()
            ->value(QStringLiteral("printer"), QString::fromLatin1(PrinterProfiles::kDefaultName))
            .toString();
    const int index = m_combo->findData(remembered);
    m_combo->setCurrentIndex(
        index >= 0 ? index : m_combo->findData(QString::fromLatin1(PrinterProfiles::kDefaultName)));
    m_pauseButton->setText(pauseCaption(profile()));
    connect(m_combo, &QComboBox::currentIndexChanged, this, &PrinterChoice::chosen);
    connect(m_settingsButton, &QToolButton::clicked, this, &PrinterChoice::editSettings);
}

const PrinterProfile& PrinterChoice::profile() const
{
    const PrinterProfile* found = m_profiles.find(m_combo->currentData().toString());
    return found ? *found : m_profiles.profiles().front();
}

PauseSettings PrinterChoice::settings() const
{
    const PrinterProfile& printer = profile();
    PauseSettings settings = printer.defaults;
    const std::unique_ptr<QSettings> stored = store();
    QSettings& s = *stored;
    // A stored value out of its range (a settings file edited by hand) is passed over.
    if (const double lift = s.value(key(printer, "lift"), settings.lift).toDouble(); PauseSettings::liftFits(lift))
        settings.lift = lift;
    if (s.contains(key(printer, "parkX")) && s.contains(key(printer, "parkY"))) {
        const double x = s.value(key(printer, "parkX")).toDouble();
        const double y = s.value(key(printer, "parkY")).toDouble();
        if (PauseSettings::parkFits(x) && PauseSettings::parkFits(y))
            settings.park = PointXY{x, y};
    } else if (s.value(key(printer, "parkSet")).toString() == u"no") {
        settings.park.reset();
    }
    if (s.contains(key(printer, "standby"))) {
        const int standby = s.value(key(printer, "standby")).toInt();
        if (standby < 0)
            settings.standby.reset();
        else if (PauseSettings::temperatureFits(standby))
            settings.standby = standby;
    }
    if (const double prime = s.value(key(printer, "prime"), settings.prime).toDouble();
        PauseSettings::primeFits(prime))
        settings.prime = prime;
    return settings;
}

void PrinterChoice::setSettings(const PauseSettings& settings)
{
    const PrinterProfile& printer = profile();
    const std::unique_ptr<QSettings> stored = store();
    QSettings& s = *stored;
    s.setValue(key(printer, "lift"), settings.lift);
    if (settings.park) {
        s.setValue(key(printer, "parkX"), settings.park->x);
        s.setValue(key(printer, "parkY"), settings.park->y);
        s.remove(key(printer, "parkSet"));
    } else {
        s.remove(key(printer, "parkX"));
        s.remove(key(printer, "parkY"));
        s.setValue(key(printer, "parkSet"), QStringLiteral("no"));
    }
    s.setValue(key(printer, "standby"), settings.standby.value_or(-1));
    s.setValue(key(printer, "prime"), settings.prime);
}

QString PrinterChoice::problemText() const
{
    QStringList lines;
    for (const ProfileProblem& problem : m_profiles.problems())
        lines.append(QStringLiteral("Printer profiles: ") + problem.text());
    return lines.join(u'\n');
}

QString PrinterChoice::pauseCaption(const PrinterProfile& profile)
{
    return QStringLiteral("Pause Insert (%1)").arg(PauseBlocks::commandWord(profile.pauseLine));
}

QString PrinterChoice::settingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/settings.ini");
}

void PrinterChoice::chosen(int)
{
    store()->setValue(QStringLiteral("printer"), profile().name);
    m_pauseButton->setText(pauseCaption(profile()));
}

namespace {
PrinterChoice::ParkAsker& parkAsker()
{
    static PrinterChoice::ParkAsker asker;
    return asker;
}
} // namespace

void PrinterChoice::setParkAsker(ParkAsker asker)
{
    parkAsker() = std::move(asker);
}

bool PrinterChoice::askPark(const QString& why)
{
    PauseSettings current = settings();
    if (!current.park)
        current.park = PointXY{};
    PauseSettingsDialog dialog(profile(), current, m_combo->window(),
                               QStringLiteral("Set a park position clear of the print: %1.").arg(why));
    if (parkAsker()) {
        dialog.show();
        parkAsker()(dialog);
    } else {
        dialog.exec();
    }
    if (dialog.result() != QDialog::Accepted || !dialog.settings().park)
        return false;
    setSettings(dialog.settings());
    return true;
}

void PrinterChoice::editSettings()
{
    PauseSettingsDialog dialog(profile(), settings(), m_combo->window());
    if (dialog.exec() == QDialog::Accepted)
        setSettings(dialog.settings());
}
