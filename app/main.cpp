#include <QDir>
#include <QFileInfo>

#include "app/Windows.h"
#include "widgets/Application.h"

int main(int argc, char** argv) {
    trelmo::TrelmoApplication app(argc, argv);
    // The settings file sits beside the executable and bears its name: trelmo -> trelmo.ini.
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const QString ini = exe.absoluteDir().filePath(exe.completeBaseName() + QStringLiteral(".ini"));
    Windows windows(ini);
    windows.form1()->show();
    return app.exec();
}
