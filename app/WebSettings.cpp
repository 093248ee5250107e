#include "WebSettings.h"

#include "Convert.h"
#include "IniFile.h"

WebSettings LoadWebSettings(const QString& iniPath) {
    IniFile ini(iniPath);
    ini.load();
    const QString section = QStringLiteral("Web");
    const WebSettings d;
    WebSettings w;
    w.Enabled = profileInt(ini.value(section, QStringLiteral("Enabled")), d.Enabled) != 0 ? 1 : 0;
    const QString listen = ini.value(section, QStringLiteral("Listen"));
    w.Listen = listen.isEmpty() ? d.Listen : listen;
    return w;
}
