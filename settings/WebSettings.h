#pragma once

#include <QString>

// Section "Web" of "Korvane.ini": the live results page. Set by hand in the
// file; the program only reads it at start.
struct WebSettings {
    int Enabled = 0; // 1: the page is served
    // Where it listens; "0.0.0.0:8080" to share it on the local network.
    QString Listen = QStringLiteral("127.0.0.1:8080");
    // The address phones are shown (share page and status page) instead of
    // the network interfaces' own, e.g. "http://timing.local:8080/".
    QString PublicUrl;
    // Connections open at once, and of them from one client address.
    int MaxConnections = 300;
    int MaxPerAddress = 20;
    // Seconds a request may take from its first byte, and an open
    // connection may wait for its next request.
    int RequestTimeout = 10;
    int IdleTimeout = 30;
};

// A missing file, section or key, or text that does not convert, gives the
// key's default, and so does a limit below 1. Enabled is on for any number
// but 0.
WebSettings LoadWebSettings(const QString& iniPath);
