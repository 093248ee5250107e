#include "WebSettings.h"

#include "Convert.h"
#include "IniFile.h"

WebSettings LoadWebSettings(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    const QString section = QStringLiteral("Web");
    const WebSettings d;
    WebSettings w;
    const auto read = [&](const char* key, int fallback) {
        return profileInt(ini.value(section, QString::fromLatin1(key)), fallback);
    };
    const auto limit = [&](const char* key, int fallback) {
        const int v = read(key, fallback);
        return v >= 1 ? v : fallback;
    };
    w.Enabled = read("Enabled", d.Enabled) != 0 ? 1 : 0;
    const QString listen = ini.value(section, QStringLiteral("Listen"));
    w.Listen = listen.isEmpty() ? d.Listen : listen;
    w.PublicUrl = ini.value(section, QStringLiteral("PublicUrl")).trimmed();
    w.MaxConnections = limit("MaxConnections", d.MaxConnections);
    w.MaxPerAddress = limit("MaxPerAddress", d.MaxPerAddress);
    w.RequestTimeout = limit("RequestTimeout", d.RequestTimeout);
    w.IdleTimeout = limit("IdleTimeout", d.IdleTimeout);
    return w;
}
