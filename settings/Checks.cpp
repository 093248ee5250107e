#include "Checks.h"

#include "Convert.h"
#include "IniFile.h"

CheckSettings LoadCheckSettings(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    const QString section = QStringLiteral("Checks");
    const CheckSettings defaults;
    CheckSettings c;
    c.SilenceS = profileInt(ini.value(section, QStringLiteral("SilenceS")), defaults.SilenceS);
    c.Beep = profileInt(ini.value(section, QStringLiteral("Beep")), defaults.Beep);
    c.MaxOffsetMs =
        profileInt(ini.value(section, QStringLiteral("MaxOffsetMs")), defaults.MaxOffsetMs);
    c.AutoResync =
        profileInt(ini.value(section, QStringLiteral("AutoResync")), defaults.AutoResync);
    c.MinFreeMB = profileInt(ini.value(section, QStringLiteral("MinFreeMB")), defaults.MinFreeMB);
    if (c.SilenceS <= 0)
        c.SilenceS = defaults.SilenceS;
    if (c.MaxOffsetMs <= 0)
        c.MaxOffsetMs = defaults.MaxOffsetMs;
    return c;
}

SuspectChecks LoadSuspectChecks(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    const QString section = QStringLiteral("Checks");
    const SuspectChecks d;
    SuspectChecks c;
    const auto read = [&](const char* key, int fallback) {
        return profileInt(ini.value(section, QLatin1String(key)), fallback);
    };
    c.MinKmh = read("MinKmh", d.MinKmh);
    c.MaxKmh = read("MaxKmh", d.MaxKmh);
    c.DoubleReadMs = read("DoubleReadMs", d.DoubleReadMs);
    c.MaxSectionS = read("MaxSectionS", d.MaxSectionS);
    c.HoldSuspect = read("HoldSuspect", d.HoldSuspect) != 0 ? 1 : 0;
    return c;
}
