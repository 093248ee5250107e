#pragma once

#include <QString>

// Section "Web" of "Korvane.ini": the live results page. Set by hand in the
// file; the program only reads it at start.
struct WebSettings {
    int Enabled = 0; // 1: the page is served
    // Where it listens; "0.0.0.0:8080" to share it on the local network.
    QString Listen = QStringLiteral("127.0.0.1:8080");
};

// A missing file, section or key, or text that does not convert, gives the
// key's default. Enabled is on for any number but 0.
WebSettings LoadWebSettings(const QString& iniPath);
