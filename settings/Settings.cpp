#include "Settings.h"

#include "Convert.h"
#include "IniFile.h"

#include <QCoreApplication>

namespace {
const QString kSection = QStringLiteral("SP");

struct Key {
    const char* name;
    int Settings::*field;
};
// In the order they are read and written.
const Key kKeys[] = {
    {"Port1", &Settings::Port1},   {"Port2", &Settings::Port2},   {"Port3", &Settings::Port3},
    {"Dist", &Settings::Dist},     {"Wait", &Settings::Wait},     {"Rate", &Settings::Rate},
    {"Decid1", &Settings::Decid1}, {"Decid2", &Settings::Decid2}, {"Resetint", &Settings::Resetint},
    {"Timer2", &Settings::Timer2},
};
} // namespace

Settings LoadSettings(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    Settings s;
    const Settings defaults;
    for (const Key& k : kKeys)
        s.*k.field = profileInt(ini.value(kSection, QLatin1String(k.name)), defaults.*k.field);
    // The port groups offer 0..9 only; any other number would select nothing,
    // open nothing and say nothing, so it counts as no port.
    for (int Settings::*port : {&Settings::Port1, &Settings::Port2, &Settings::Port3})
        if (s.*port < 0 || s.*port > 9)
            s.*port = 0;
    return s;
}

void SaveSettings(const QString& iniPath, const Settings& s) {
    // Re-read the file so that sections edited meanwhile (the port devices,
    // for instance) survive.
    IniFile ini(iniPath);
    ini.load();
    for (const Key& k : kKeys)
        ini.setValue(kSection, QLatin1String(k.name), QString::number(s.*k.field));
    QString why;
    if (!ini.save(&why))
        throw KorvaneError(
            QCoreApplication::translate("TFkorvane", "%1 に書き込めません: %2").arg(iniPath, why));
}
