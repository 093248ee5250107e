#include "SuspectChecks.h"

#include "Convert.h"
#include "IniFile.h"

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
