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
    if (c.SilenceS <= 0)
        c.SilenceS = defaults.SilenceS;
    if (c.MaxOffsetMs <= 0)
        c.MaxOffsetMs = defaults.MaxOffsetMs;
    return c;
}
