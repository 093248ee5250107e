#include "Korvane.h"

#include "DataDir.h"
#include "Framework.h"
#include "SignalBridge.h"
#include "Ukorvane.h"

#include "Host.h"

#include "Capture.h"
#include "CaptureRoom.h"
#include "Database.h"
#include "Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char* const kUsage =
    "Usage: korvane [--data-dir DIR] [--page PAGE] [--lang LANG]\n"
    "               [--capture FILE]\n"
    "Speed trap for radio-controlled model cars.\n\n"
    "  --data-dir DIR  folder of Korvane.ini, Korvane.db and the page password\n"
    "                  (default: $XDG_DATA_HOME/Ostrel/Korvane)\n"
    "  --page PAGE     page shown at start: start, measure, settings, check,\n"
    "                  ranking, registration, history, status or entries\n"
    "                  (default: start)\n"
    "  --lang LANG     language of the window: ja (Japanese) or en (English);\n"
    "                  without it English when LANGUAGE or the locale\n"
    "                  (LC_ALL, LC_MESSAGES, LANG) names English, else Japanese\n"
    "  --capture FILE  record the bytes read from both decoders, with their\n"
    "                  times, into FILE (appended to when it exists), for\n"
    "                  korvane-replay\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n";

// The names of --page, in the order of the menu. A room's page (none of the
// window's own) is found by its name once the window is made.
struct PageName {
    const char* name;
    QWidget* TFkorvane::*page = nullptr;
};
const PageName kPages[] = {
    {"start", &TFkorvane::TabSheet1},
    {"measure", &TFkorvane::TabSheet2},
    {"settings", &TFkorvane::TabSheet3},
    {"check", &TFkorvane::TabSheet4},
    {"ranking", &TFkorvane::TabSheet5},
    {"registration", &TFkorvane::TabSheet6},
    {"history"},
    {"status"},
    {"entries"},
};

const PageName* pageNamed(const char* name) {
    for (const auto& p : kPages)
        if (!std::strcmp(name, p.name))
            return &p;
    return nullptr;
}

} // namespace

int korvaneMain(int argc, char** argv) {
    QString dataDir;
    QString lang;
    QString capturePath;
    const PageName* page = pageNamed("start");
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(a, "--version")) {
            std::puts("V1.27");
            return 0;
        }
        if (!std::strcmp(a, "--data-dir")) {
            if (i + 1 >= argc) {
                std::fputs("korvane: --data-dir needs a folder\n", stderr);
                return 2;
            }
            dataDir = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strncmp(a, "--data-dir=", 11)) {
            dataDir = QString::fromLocal8Bit(a + 11);
        } else if (!std::strcmp(a, "--capture") || !std::strncmp(a, "--capture=", 10)) {
            const char* path = a[9] == '=' ? a + 10 : i + 1 < argc ? argv[++i] : "";
            if (!*path) {
                std::fputs("korvane: --capture needs a file\n", stderr);
                return 2;
            }
            capturePath = QString::fromLocal8Bit(path);
        } else if (!std::strcmp(a, "--page") || !std::strncmp(a, "--page=", 7)) {
            const char* name = a[6] == '=' ? a + 7 : i + 1 < argc ? argv[++i] : "";
            page = pageNamed(name);
            if (!page) {
                std::fprintf(stderr, "korvane: unknown page '%s'\n%s", name, kUsage);
                return 2;
            }
        } else if (!std::strcmp(a, "--lang") || !std::strncmp(a, "--lang=", 7)) {
            const char* name = a[6] == '=' ? a + 7 : i + 1 < argc ? argv[++i] : "";
            lang = QString::fromLocal8Bit(name);
            if (!languageNamed(lang)) {
                std::fprintf(stderr, "korvane: unknown language '%s' (ja or en)\n%s", name, kUsage);
                return 2;
            }
        } else if (a[0] == '-' && std::strcmp(a, "-platform") && std::strncmp(a, "-style", 6)) {
            std::fprintf(stderr, "korvane: unknown option %s\n%s", a, kUsage);
            return 2;
        } else if (!std::strcmp(a, "-platform")) {
            ++i; // Qt's own option, with its value
        }
    }
    if (dataDir.isEmpty())
        dataDir = defaultDataDir();

    KorvaneApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.27"));
    if (!installLanguage(chooseLanguage(lang)))
        std::fputs("korvane: the English texts are missing; the window stays Japanese\n", stderr);

    dataDir = QDir(dataDir).absolutePath();
    if (const DataDirFailure failed = prepareDataDir(dataDir);
        failed.step != DataDirFailure::None) {
        ShowErrorBox(dataDirMessage(dataDir, failed));
        return 1;
    }

    // The connection opens before the window's creation handler runs; without
    // it the program does not run at all rather than run without records.
    try {
        SpeedDb::open(databasePathIn(dataDir));
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
        return 1;
    }

    // Opened before the window, so that no chunk read goes unrecorded.
    auto capture = std::make_unique<capture::Writer>();
    if (!capturePath.isEmpty()) {
        QString why;
        if (!capture->open(capturePath, &why)) {
            ShowErrorBox(
                QCoreApplication::translate("Korvane", "キャプチャファイルを開けません: %1")
                    .arg(why));
            SpeedDb::close();
            return 1;
        }
    }

    int status = 0;
    {
        // From before the window's creation on, so that a signal while a
        // creation or start-up box is open ends the program in order.
        SignalBridge signals_;
        QPointer<TFkorvane> w;
        QObject::connect(&signals_, &SignalBridge::terminationRequested, &app, [&w] {
            Dialogs::setQuitting(true);
            // Close as the close box does, once the handler that runs now
            // (a box that was just closed, a start-up step) has returned.
            QTimer::singleShot(0, qApp, [&w] {
                if (w && w->isVisible())
                    w->close();
                QCoreApplication::quit();
            });
        });

        TFkorvane window(dataDir);
        w = &window;
        if (!window.created()) {
            // The operator was told; the stored files stay as they are.
            status = 1;
        } else {
            if (capture->isOpen())
                window.host().adopt(
                    std::make_unique<CaptureRoom>(window.host(), std::move(capture)));
            window.show();
            // After the show handler, which turns to the start page (a page's
            // show handler may send commands: not while stopping).
            if (!Dialogs::quitting())
                if (QWidget* shown = page->page ? window.*page->page
                                                : window.host().page(QLatin1String(page->name)))
                    window.setActivePage(shown);
            if (!Dialogs::quitting() || window.isVisible())
                status = app.exec();
            if (window.isVisible())
                window.close();
        }
    }
    SpeedDb::close();
    if ((Dialogs::failedWhileQuitting() || exitFailureMarked()) && status == 0)
        status = 1;
    return status;
}
