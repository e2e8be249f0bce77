// Saves a picture of each page of the configuration window, loaded with a
// sample module in TCP client mode, for comparing with the layout tables:
//   cfgscreens OUTDIR   (offscreen, or on any display, e.g. under xvfb-run)
#include "CfgTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>

using namespace tvx;
using namespace tvx::test;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    CfgHarness h;
    SettingsRecord r = sampleRecord();
    storeField(r.sp0_opmode, "TC");
    storeField(r.sp0_tcpcrip, "198.51.100.20");
    TcfgForm* form = h.open(r);
    auto* pages = form->findChild<QTabWidget*>(QStringLiteral("PageControl_cfg"));
    const char* names[3] = {"config-basic.png", "config-operation.png", "config-password.png"};
    for (int i = 0; i < 3; ++i) {
        pages->setCurrentIndex(i);
        QApplication::processEvents();
        if (!form->grab().save(dir + QLatin1Char('/') + QLatin1String(names[i])))
            return 1;
    }
    form->close();
    return 0;
}
